// Throughput of the checksum beside zlib's and beside the byte-at-a-time
// table it must agree with, and of FileCopyPart beside the system's
// CopyFileA. The best of several runs counts; results are checked, not
// only timed.

#include <windows.h>
#include <zlib.h>

#include <cstdio>
#include <random>
#include <string>
#include <vector>

#include "gen/Crc32.h"
#include "gen/File.h"

namespace {

const uint32_t kMegabyte = 1 << 20;
const uint32_t kCrcBytes = 64 * kMegabyte;
const uint32_t kCopyBytes = 256 * kMegabyte;
const int kCrcRuns = 5;
const int kCopyRuns = 3;

template <typename Work>
double BestSeconds(int runs, Work work) {
  LARGE_INTEGER frequency, start, stop;
  QueryPerformanceFrequency(&frequency);
  double best = 1e30;
  for (int run = 0; run < runs; ++run) {
    QueryPerformanceCounter(&start);
    work();
    QueryPerformanceCounter(&stop);
    double seconds = static_cast<double>(stop.QuadPart - start.QuadPart) / frequency.QuadPart;
    if (seconds < best) best = seconds;
  }
  return best;
}

void Report(const char* what, uint32_t bytes, double seconds) {
  printf("%-44s %8.1f MB/s  (%.3f s)\n", what, bytes / seconds / kMegabyte, seconds);
}

uint32_t ByteTableCrc(const unsigned char* data, size_t size, uint32_t crc) {
  static uint32_t table[256];
  if (!table[1])
    for (uint32_t byte = 0; byte < 256; ++byte) {
      uint32_t entry = byte;
      for (int bit = 0; bit < 8; ++bit) entry = entry & 1 ? (entry >> 1) ^ 0xEDB88320u : entry >> 1;
      table[byte] = entry;
    }
  for (size_t i = 0; i < size; ++i) crc = (crc >> 8) ^ table[(crc ^ data[i]) & 0xFF];
  return crc;
}

bool SameFiles(const std::string& first, const std::string& second) {
  File a(first.c_str(), "R"), b(second.c_str(), "R");
  if (a.Size() != b.Size()) return false;
  std::vector<char> left(kMegabyte), right(kMegabyte);
  for (uint32_t rest = a.Remaining(); rest > 0;) {
    uint32_t chunk = rest < kMegabyte ? rest : kMegabyte;
    a.Read(left.data(), chunk);
    b.Read(right.data(), chunk);
    if (memcmp(left.data(), right.data(), chunk) != 0) return false;
    rest -= chunk;
  }
  return true;
}

int BenchCrc() {
  std::vector<unsigned char> data(kCrcBytes);
  std::mt19937 random(3);
  for (unsigned char& byte : data) byte = static_cast<unsigned char>(random());
  const unsigned char* begin = data.data();
  uint32_t ours = 0, zlib = 0, table = 0;
  double oursSeconds = BestSeconds(kCrcRuns, [&] { ours = Crc32(begin, begin + kCrcBytes, ~0u); });
  double zlibSeconds = BestSeconds(kCrcRuns, [&] { zlib = crc32(0, begin, kCrcBytes); });
  double tableSeconds = BestSeconds(kCrcRuns, [&] { table = ByteTableCrc(begin, kCrcBytes, ~0u); });
  printf("Checksum of %u MB:\n", kCrcBytes / kMegabyte);
  Report("  Crc32 (three lanes of slicing by eight)", kCrcBytes, oursSeconds);
  Report("  zlib crc32", kCrcBytes, zlibSeconds);
  Report("  byte-at-a-time table", kCrcBytes, tableSeconds);
  bool agree = ours == table && ours == static_cast<uint32_t>(~zlib);
  printf("  results %08X, table %08X, ~zlib %08X: %s\n", ours, table, static_cast<uint32_t>(~zlib),
         agree ? "agree" : "DIFFER");
  return agree ? 0 : 1;
}

int BenchCopy() {
  char temp[MAX_PATH + 1];
  GetTempPathA(sizeof temp, temp);
  std::string source = std::string(temp) + "file_bench.source";
  std::string copied = std::string(temp) + "file_bench.copied";
  std::string bySystem = std::string(temp) + "file_bench.system";
  {
    std::vector<char> chunk(kMegabyte);
    std::mt19937 random(4);
    File file(source.c_str(), "CIW");
    for (uint32_t written = 0; written < kCopyBytes; written += kMegabyte) {
      for (char& byte : chunk) byte = static_cast<char>(random());
      file.Write(chunk.data(), kMegabyte);
    }
  }
  double partSeconds = BestSeconds(kCopyRuns, [&] {
    File from(source.c_str(), "R"), to(copied.c_str(), "CIW");
    FileCopyPart(to, from, 0, 0xFFFFFFFF);
    to.Close();
  });
  double systemSeconds =
      BestSeconds(kCopyRuns, [&] { CopyFileA(source.c_str(), bySystem.c_str(), FALSE); });
  printf("Copy of a %u MB file:\n", kCopyBytes / kMegabyte);
  Report("  FileCopyPart (61440-byte buffer)", kCopyBytes, partSeconds);
  Report("  CopyFileA", kCopyBytes, systemSeconds);
  bool same = SameFiles(source, copied) && SameFiles(source, bySystem);
  printf("  copies %s the source\n", same ? "equal" : "DIFFER FROM");
  DeleteFileA(source.c_str());
  DeleteFileA(copied.c_str());
  DeleteFileA(bySystem.c_str());
  return same ? 0 : 1;
}

}  // namespace

int main() {
  int failures = BenchCrc();
  failures += BenchCopy();
  return failures;
}
