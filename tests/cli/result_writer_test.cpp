#include "cli/result_writer.h"

#include <gtest/gtest.h>

#include <iostream>
#include <memory>
#include <sstream>

#include "cli/output.h"
#include "cli/tree_printer.h"

namespace vuv::cli {
namespace {

TEST(ResultWriter, EveryFormat) {
  const ResultRow file{"\\\\S1\\Public\\a,\"b\".txt", false, 5ull << 30};
  const ResultRow folder{"\\\\S1\\Public\\old.zip", true, 0};

  EXPECT_EQ(formatResultRow(file, SearchFormat::Text), "\\\\S1\\Public\\a,\"b\".txt\t5120 Mbytes\n");
  EXPECT_EQ(formatResultRow(folder, SearchFormat::Text), "\\\\S1\\Public\\old.zip\t<Folder>\n");

  EXPECT_EQ(resultHeader(SearchFormat::Csv), "path,folder,size,size_text,icon\n");
  EXPECT_EQ(formatResultRow(file, SearchFormat::Csv),
            "\"\\\\S1\\Public\\a,\"\"b\"\".txt\",0,5368709120,5120 Mbytes,Text\n");
  EXPECT_EQ(formatResultRow(folder, SearchFormat::Csv), "\\\\S1\\Public\\old.zip,1,0,<Folder>,Folder\n");

  EXPECT_EQ(resultHeader(SearchFormat::Json), "");
  EXPECT_EQ(formatResultRow(folder, SearchFormat::Json),
            "{\"path\":\"\\\\\\\\S1\\\\Public\\\\old.zip\",\"folder\":true,\"size\":0,\"size_text\":\"<Folder>\","
            "\"icon\":\"Folder\"}\n");

  // A folder that could not be listed: a record of its own in JSON, standard error otherwise.
  const ListingFailure denied{"\\\\S1\\Public\\denied", makeError(ErrorCode::AccessDenied, "x", 13)};
  EXPECT_EQ(formatFailure(denied, SearchFormat::Json),
            "{\"failed\":\"\\\\\\\\S1\\\\Public\\\\denied\",\"reason\":\"access denied\"}\n");
  EXPECT_EQ(formatFailure(denied, SearchFormat::Text), "");
  EXPECT_EQ(formatFailure(denied, SearchFormat::Csv), "");
}

// Guards against names from the network reaching a terminal or a JSON reader raw.
TEST(ResultWriter, HostileNamesAreEscaped) {
  const ResultRow row{"\\\\S\\x\\\x1b[31mred\x07\xff.txt", false, 1};
  for (const SearchFormat format : {SearchFormat::Text, SearchFormat::Csv})  // csv: to a terminal
    EXPECT_EQ(formatResultRow(row, format, {}, true).find('\x1b'), std::string::npos);
  EXPECT_EQ(jsonString("a\x1b\xff\xc3\xa9\"\n\xc2\x9b\xe2\x80\xae"),
            "\"a\\u001B\xef\xbf\xbd\xc3\xa9\\\"\\n\\u009B\\u202E\"");
}

// Guards against C1 controls (U+0080-U+009F, which terminals obey), bytes that are no UTF-8 and
// direction overrides reaching a terminal, and against escaping characters that only look
// like one.
TEST(ResultWriter, TerminalEscapesControlCharacters) {
  const struct {
    const char* in;
    const char* out;
  } cases[] = {
      {"a\x7f" "b", "a\\x7Fb"},
      {"\xc2\x9b" "31m", "\\x9B31m"},  // C1 CSI
      {"\xc2\x80\xc2\x9f", "\\x80\\x9F"},
      {"\xc2\xa0", "\xc2\xa0"},  // no-break space: printable
      {"x\xc2", "x\\xC2"},          // cut off
      {"\xc0\x9b", "\\xC0\\x9B"},  // overlong
      {"\x9b" "2J", "\\x9B2J"},     // a lone CSI byte
      {"\xe2\x80\xae" "fdp.exe", "\\u202Efdp.exe"},
      {"\xe2\x80\x9b", "\xe2\x80\x9b"},
  };
  for (const auto& c : cases) EXPECT_EQ(escapeForTerminal(c.in), c.out) << c.in;
}

TEST(ResultWriter, ErrorLinesEscapeHostileNames) {
  std::ostringstream captured;
  std::streambuf* const saved = std::cerr.rdbuf(captured.rdbuf());
  printError(makeError(ErrorCode::NotFound, "Could not copy \\\\S1\\P\\\x1b]0;owned\x07\xff\x9b" "2J"));
  StreamDiagnostics streams(std::cerr, std::cerr);
  TerminalDiagnostics(streams).toStandardError("\x1b[2Jnote\n");
  std::cerr.rdbuf(saved);
  EXPECT_EQ(captured.str(),
            "vuvuveva-cli: Could not copy \\\\S1\\P\\\\x1B]0;owned\\x07\\xFF\\x9B2J: not found\n"
            "\\x1B[2Jnote\n");
}

// A question on the terminal pauses the progress line: erased first, not drawn while the
// question is open, lines written meanwhile held back, then drawn again with its last text;
// not when cleared meanwhile.
TEST(ResultWriter, ProgressLinePausesForAQuestion) {
  std::ostringstream out;
  ProgressLine progress(out, /*terminal=*/true);
  progress.show("a");
  auto paused = std::make_unique<ProgressLine::Pause>(&progress);
  progress.show("b");
  progress.write(out, "row\n");
  paused = nullptr;
  paused = std::make_unique<ProgressLine::Pause>(&progress);
  progress.clear();
  paused = nullptr;
  EXPECT_EQ(out.str(), "\r\033[Ka" "\r\033[K" "row\n" "\r\033[Kb" "\r\033[K");
}

}  // namespace
}  // namespace vuv::cli
