// Applying templates to many paths: five typical rules on generated paths, every rule on every
// path and as file intake does it (rules in order until one fits), rebuilding the patterns at
// every application and with the compiled patterns kept. Then the count shown as a rule is
// typed: the rule a keystroke at a time, each text new (compiled, then checked on every path),
// as the rule box and the apply-rules dialog count the selected rows; and the explanation of the
// closest rule for one row, as the status bar gives it.
//   TemplateBench [paths, default 10000]
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <time.h>
#endif

#include "templates/MatchRule.h"
#include "templates/RuleReport.h"

namespace {

const std::vector<std::string> kRules = {"$K - $A - $T.mp3", R"($A\$B\$K - $T.mp3)",
                                         R"($A\$B\$K $T.mp3)", "$A - $T.mp3", "$K $T.mp3"};

std::vector<std::string> MakePaths(int count) {
  const std::string so = "\x83\x5C";    // katakana so, CP932
  const std::string hyou = "\x95\x5C";  // kanji hyou, CP932
  std::vector<std::string> paths;
  for (int i = 0; i < count; ++i) {
    const std::string n = std::to_string(i);
    const std::string track = std::to_string(10 + i % 90);
    const std::string artist = "Artist " + std::to_string(i % 97);
    switch (i % 6) {
      case 0:
        paths.push_back(R"(C:\Music\)" + artist + R"(\Album )" + n + "\\" + track + " Title " + n +
                        ".mp3");
        break;
      case 1:
        paths.push_back(R"(C:\Music\)" + artist + R"(\Album )" + n + "\\" + track + " - Title " +
                        n + ".mp3");
        break;
      case 2:
        paths.push_back(R"(D:\mp3\)" + artist + " - Title " + n + ".mp3");
        break;
      case 3:
        paths.push_back(R"(D:\mp3\)" + track + " - " + artist + " - Title " + n + ".mp3");
        break;
      case 4:
        paths.push_back(R"(E:\)" + so + R"(\)" + hyou + n + " " + so + ".mp3");
        break;
      default:
        paths.push_back(R"(E:\misc\notes )" + n + ".txt");
        break;
    }
  }
  return paths;
}

// Seconds on a monotonic clock. (<chrono> is no use here: the C++20 header does not compile with
// the project's CP932 execution character set, which has no micro sign.)
double Now() {
#ifdef _WIN32
  LARGE_INTEGER frequency, counter;
  QueryPerformanceFrequency(&frequency);
  QueryPerformanceCounter(&counter);
  return static_cast<double>(counter.QuadPart) / static_cast<double>(frequency.QuadPart);
#else
  timespec now;
  clock_gettime(CLOCK_MONOTONIC, &now);
  return static_cast<double>(now.tv_sec) + 1e-9 * static_cast<double>(now.tv_nsec);
#endif
}

using Apply = std::function<RuleMatch(const std::string&, const std::string&)>;

struct Figures {
  long applications = 0;
  long fits = 0;
  double seconds = 0;
};

enum class Loop { kEveryRule, kFirstFit };

// Applies the rules to every path: all of them, or in order until one fits (as file intake does).
Figures Run(const std::vector<std::string>& paths, Loop loop, const Apply& apply) {
  Figures figures;
  const double start = Now();
  for (const std::string& path : paths) {
    for (const std::string& rule : kRules) {
      ++figures.applications;
      if (apply(path, rule).outcome != RuleMatch::kFits) continue;
      ++figures.fits;
      if (loop == Loop::kFirstFit) break;
    }
  }
  figures.seconds = Now() - start;
  return figures;
}

void Print(const char* what, const Figures& figures) {
  std::printf("%-34s %7ld applications %6ld fits %9.3f s %9.2f us per application\n", what,
              figures.applications, figures.fits, figures.seconds,
              1e6 * figures.seconds / (figures.applications ? figures.applications : 1));
}

}  // namespace

int main(int argc, char** argv) {
  const int count = argc > 1 ? std::atoi(argv[1]) : 10000;
  const std::vector<std::string> paths = MakePaths(count);
  std::printf("%zu rules, %d paths\n", kRules.size(), count);

  // The paths are in code page 932, as the program's users' are.
  static const LeadBytes leadBytes = LeadBytes::CodePage932();
  const Apply uncached = [](const std::string& path, const std::string& rule) {
    return MatchRuleUncached(path, rule, leadBytes);
  };
  const Apply cached = [](const std::string& path, const std::string& rule) {
    return MatchRule(path, rule, leadBytes);
  };
  Print("every rule, rebuilt each time", Run(paths, Loop::kEveryRule, uncached));
  ClearRuleCache();
  Print("every rule, compiled once", Run(paths, Loop::kEveryRule, cached));
  Print("first fit, rebuilt each time", Run(paths, Loop::kFirstFit, uncached));
  ClearRuleCache();
  Print("first fit, compiled once", Run(paths, Loop::kFirstFit, cached));

  // Typed one byte at a time; every prefix is a rule of its own, some of them not compilable.
  const std::string typed = R"($A\$B\$K $T/\.(?i:mp3|flac|m4a|ogg|opus)$/)";
  double slowest = 0, total = 0;
  long fits = 0;
  for (size_t length = 1; length <= typed.size(); ++length) {
    const double start = Now();
    fits += CountFits(paths, typed.substr(0, length), leadBytes).fits;
    const double seconds = Now() - start;
    total += seconds;
    slowest = seconds > slowest ? seconds : slowest;
  }
  std::printf(
      "count as typed, %zu keystrokes on %d paths: %.2f ms per keystroke, slowest %.2f ms"
      " (%ld fits)\n",
      typed.size(), count, 1e3 * total / typed.size(), 1e3 * slowest, fits);

  const std::vector<std::string> samples(kRules.begin(), kRules.end());
  const double start = Now();
  const int explained = 200;
  for (int i = 0; i < explained; ++i)
    ClosestRule(paths[(6 * i + 5) % paths.size()], samples, leadBytes);
  std::printf("closest rule of %zu for one row: %.3f ms\n", samples.size(),
              1e3 * (Now() - start) / explained);
  return 0;
}
