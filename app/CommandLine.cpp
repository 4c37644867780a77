#include "app/CommandLine.h"

#include <boost/regex.hpp>

void TokeniseCommandLine(const std::string& commandLine, std::vector<std::string>& paths) {
  // A run of characters that are neither quote nor white space, or a quoted run of at least one
  // character. An empty pair of quotes is no token, and an unclosed quote is simply skipped.
  static const boost::regex token("(?:[^\"\\s]+)|\"(?:[^\"]+)\"");
  static const boost::regex unquote("^\"([^\"]*)\"$");

  const std::string text = commandLine;
  std::string::const_iterator position = text.begin();
  const std::string::const_iterator end = text.end();
  boost::smatch match;
  while (boost::regex_search(position, end, match, token)) {
    paths.push_back(boost::regex_replace(match.str(0), unquote, "$1"));
    position = match[0].second;
  }
}
