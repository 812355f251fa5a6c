#include "gen/err/CrashReport.h"

#include <gtest/gtest.h>

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "gen/err/errgpfse.h"
#include "toolkit/Raised.h"

namespace {

// The consent dialog's template written out from its description,
// little-endian: each field is {width in bytes, value}.
struct Template {
  void Fields(std::initializer_list<std::pair<int, uint32_t>> fields) {
    for (const auto& field : fields)
      for (int i = 0; i < field.first; ++i) bytes.push_back(uint8_t(field.second >> (8 * i)));
  }
  void Text(const std::string& text) {
    for (char c : text) Fields({{2, uint8_t(c)}});
    Fields({{2, 0}});
  }
  void Item(uint32_t style, uint16_t x, uint16_t y, uint16_t cx, uint16_t cy, uint32_t id,
            uint16_t itemClass, const char* title) {
    bytes.resize((bytes.size() + 3) / 4 * 4);
    Fields({{4, 0}, {4, 0}, {4, style}, {2, x}, {2, y}, {2, cx}, {2, cy}, {4, id}, {2, 0xFFFF},
            {2, itemClass}});
    Text(title);
    Fields({{2, 0}});
  }
  std::vector<uint8_t> bytes;
};

}  // namespace

TEST(ReportDialogTemplate, IsTheExtendedTemplateByteForByteOnEveryBuild) {
  Template t;
  t.Fields({{2, 1}, {2, 0xFFFF}, {4, 0}, {4, 0}, {4, 0x80C808C4}, {2, 5}, {2, 0}, {2, 0},
            {2, 260}, {2, 219}, {2, 0}, {2, 0}});  // ... no menu, standard class
  t.Text("Exception occured");
  t.Fields({{2, 8}, {2, 75}, {1, 0}, {1, 0}});
  t.Text("MS Sans Serif");
  t.Item(0x50001007, 14, 151, 233, 1, 0xFFFFFFFF, 0x82, "");
  t.Item(0x50030001, 138, 199, 50, 14, 6, 0x80, "&Yes");
  t.Item(0x50030000, 195, 199, 50, 14, 7, 0x80, "&No");
  t.Item(0x502008C5, 11, 9, 238, 137, 1044, 0x81, "");
  t.Item(0x50000021, 12, 158, 233, 38, 0xFFFFFFFF, 0x82,
         "Please help us make the software better. We need to see the details of this error to "
         "fix the problem. This report is anonymous, doesn't contain your e-mail address and "
         "will remain strictly confidential. Would you like to send the report to us?");
  ASSERT_EQ(762u, t.bytes.size());
  for (int build = 1; build <= 2; ++build) {
    const DialogTemplateBuffer& built = BuildReportDialogTemplate();
    EXPECT_EQ(t.bytes, std::vector<uint8_t>(built.Bytes(), built.Bytes() + built.Size()))
        << "build " << build;
  }
}

TEST(DialogTemplateBuffer, TakesWholeAppendsUpToItsCapacityOnly) {
  std::unique_ptr<DialogTemplateBuffer> buffer(new DialogTemplateBuffer());
  buffer->Reset();
  buffer->Append("ab", 0);
  buffer->Append("\x7F", 1);
  buffer->Append(nullptr, 2);
  buffer->Align();
  ASSERT_EQ(std::string("\x7F\0\0\0", 4),
            std::string(reinterpret_cast<const char*>(buffer->Bytes()), buffer->Size()));
  buffer->Append(nullptr, DialogTemplateBuffer::kCapacity - 6);
  buffer->Append("xyz", 3);  // one byte too many: none of it is taken
  buffer->Append("xy", 2);
  buffer->Align();  // no room left to reach a multiple of 4
  EXPECT_EQ(DialogTemplateBuffer::kCapacity, buffer->Size());
  EXPECT_EQ('y', buffer->Bytes()[DialogTemplateBuffer::kCapacity - 1]);
}

// One character more is the caller's invalid parameter (see FaultFlow_test).
TEST(CrashReport, HeaderThenAppendsUpToTheLastCharacterOfTheBuffer) {
  strcpy(guardState.applicationPath, "C:\\Program Files\\Product\\run.exe");
  strcpy(guardState.osDescription, "Windows 7 (6.1.7601)");
  WriteReportHeader("Integer divide by 0");
  const std::string header = "Product 0.01 exception: Integer divide by 0\r\n"
                             "Application: C:\\Program Files\\Product\\run.exe\r\n"
                             "OS: Windows 7 (6.1.7601)\r\n" + std::string(66, '-') + "\r\n";
  EXPECT_EQ(header, reportText);
  std::string rest(kReportSize - 1 - header.size(), 'x');
  EXPECT_EQ(0, CatchRaised([&] { AppendToReport(rest.c_str()); }).count);
  EXPECT_EQ(header + rest, reportText);
}
