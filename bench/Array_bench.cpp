// Times the same work done with the system's arrays, texts and builder and
// with the standard library, and prints each pair with its ratio (ours /
// standard; above 1 is slower). The best of several runs counts.

#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "gen/Array.h"
#include "gen/Str.h"
#include "gen/StrBuilder.h"

namespace {

const int kRuns = 7;
const uint32_t kCount = 1000000;
const uint32_t kMegabyte = 1 << 20;

volatile uint32_t sink;

template <typename Work> double BestMilliseconds(Work work) {
  LARGE_INTEGER frequency, start, stop;
  QueryPerformanceFrequency(&frequency);
  double best = 1e30;
  for (int run = 0; run < kRuns; ++run) {
    QueryPerformanceCounter(&start);
    work();
    QueryPerformanceCounter(&stop);
    double ms = 1000.0 * (stop.QuadPart - start.QuadPart) / frequency.QuadPart;
    if (ms < best) best = ms;
  }
  return best;
}

template <typename Ours, typename Standard>
void Compare(const char* what, Ours ours, Standard standard) {
  double oursMs = BestMilliseconds(ours);
  double standardMs = BestMilliseconds(standard);
  printf("%-44s %9.2f ms %9.2f ms %6.2f\n", what, oursMs, standardMs, oursMs / standardMs);
}

// About 1 MB of words, some of them "ab".
std::string SampleText() {
  static const char* const words[] = {"ab ", "text ", "cabbage ", "x ", "recognition "};
  std::string text;
  for (uint32_t i = 0; text.size() < kMegabyte; ++i) text += words[(i * 7 + i / 3) % 5];
  return text;
}

void CopyTexts(const char* text) {
  Str source(text);
  for (uint32_t i = 0; i < kCount; ++i) {
    Str copy(source);
    sink = sink + static_cast<uint8_t>(copy.Text()[0]);
  }
}

void CopyStrings(const char* text) {
  std::string source(text);
  for (uint32_t i = 0; i < kCount; ++i) {
    std::string copy(source);
    sink = sink + static_cast<uint8_t>(copy[0]);
  }
}

}  // namespace

int main() {
#ifndef __OPTIMIZE__
  printf("An unoptimised build: its figures say little.\n");
#endif
  printf("%-44s %12s %12s %6s\n", "work", "ours", "standard", "ratio");

  Compare(
      "1M 4-byte pushes (TypedArray / vector)",
      [] {
        TypedArray<uint32_t> array;
        for (uint32_t i = 0; i < kCount; ++i) array.Push(i);
        sink = array.Count();
      },
      [] {
        std::vector<uint32_t> vector;
        for (uint32_t i = 0; i < kCount; ++i) vector.push_back(i);
        sink = static_cast<uint32_t>(vector.size());
      });

  Compare(
      "1M 4-byte pushes (DynArray::Push / vector)",
      [] {
        DynArray array;
        for (uint32_t i = 0; i < kCount; ++i) memcpy(array.Push(4), &i, 4);
        sink = array.UsedSize();
      },
      [] {
        std::vector<uint32_t> vector;
        for (uint32_t i = 0; i < kCount; ++i) vector.push_back(i);
        sink = static_cast<uint32_t>(vector.size());
      });

  Compare("1M copies of a 12-char text (Str / string)", [] { CopyTexts("twelve chars"); },
          [] { CopyStrings("twelve chars"); });
  Compare("1M copies of a 24-char text (Str / string)",
          [] { CopyTexts("twenty-four characters.."); },
          [] { CopyStrings("twenty-four characters.."); });

  static const char piece[] = "0123456789abcdef";
  Compare(
      "1 MB in 16-byte appends (StrBuilder / string)",
      [] {
        StrBuilder builder;
        builder.Init(0);
        for (uint32_t i = 0; i < kMegabyte / 16; ++i) builder.Append(piece, 16);
        sink = builder.Length();
      },
      [] {
        std::string text;
        for (uint32_t i = 0; i < kMegabyte / 16; ++i) text.append(piece, 16);
        sink = static_cast<uint32_t>(text.size());
      });

  std::string sample = SampleText();
  Compare(
      "Replace ab by xyz in 1 MB (Replace / find+append)",
      [&] {
        Str text(sample.c_str());
        Replace(text, "ab", "xyz");
        sink = text.Length();
      },
      [&] {
        std::string text(sample);  // as the Str is copied first
        std::string result;
        size_t from = 0;
        for (size_t at = text.find("ab"); at != std::string::npos;
             from = at + 2, at = text.find("ab", from)) {
          result.append(text, from, at - from);
          result.append("xyz");
        }
        result.append(text, from, std::string::npos);
        sink = static_cast<uint32_t>(result.size());
      });
  return 0;
}
