// A fresh folder under the temporary folder for a test's files, removed with everything in it at
// the end. Every Windows test that writes files uses it.
#pragma once

#include <string>

class ScratchFolder {
 public:
  // With a `name`, the folder is called so (inside a fresh folder of its own), so that a test can
  // choose what its folder's name holds, double-byte characters among them.
  explicit ScratchFolder(const std::string& name = "");
  ~ScratchFolder();
  ScratchFolder(const ScratchFolder&) = delete;
  ScratchFolder& operator=(const ScratchFolder&) = delete;

  // The folder's absolute path, without a trailing separator.
  const std::string& path() const { return path_; }
  // `relative` joined to the folder.
  std::string operator/(const std::string& relative) const { return path_ + "\\" + relative; }

  // Creates the file (and the folders on its way) with `bytes`; returns its full path.
  std::string AddFile(const std::string& relative, const std::string& bytes = "x") const;
  std::string AddFolder(const std::string& relative) const;

 private:
  std::string root_;  // what is removed at the end
  std::string path_;
};
