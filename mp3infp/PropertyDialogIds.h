// Identifiers of the property dialog's resources, shared by mp3infp.rc and PropertyDialog.cpp.
#pragma once

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
#define IDD_MP3INFP_PROPERTIES 101
#define IDC_PROP_PATH 1001
#define IDC_PROP_KIND 1002
#define IDC_PROP_STREAM 1003
// Column headings, one per tag: ID3v1, ID3v2, RIFF INFO; a format with one tag (Vorbis comment,
// MP4) shows it in the first column.
#define IDC_PROP_HEADING_BASE 1010
// The field boxes: IDC_PROP_FIELD_BASE + 10 * tag column + field row (7 rows).
#define IDC_PROP_FIELD_BASE 1100
