#include <filesystem>
#include <regex>
#include <string>

#include <gtest/gtest.h>
#include <nlohmann/json.hpp>

#include "stand_in_fixture.hpp"

using namespace testing_support;
using nlohmann::json;
namespace fs = std::filesystem;

namespace {

// How many times `part` occurs in `text`.
std::size_t count_of(const std::string& text, const std::string& part) {
  std::size_t count = 0;
  for (auto at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++count;
  return count;
}

// The stand-in with a library of two meetings: a long one, over an hour,
// whose speakers each say several lines in a row, and a short one.
class StandInDocuments : public StandIn {
 protected:
  static constexpr int kTurns = 300;
  const std::string kTitle = "Quarterly review of the export work";

  void SetUp() override {
    std::string transcript;
    for (int turn = 1; turn <= kTurns; ++turn) {
      const std::string n = std::to_string(turn);
      if (turn % 2 == 1) {
        transcript += "Speaker 1: First thought " + n + ".\nSpeaker 1: Second thought " + n +
                      ".\n\nSpeaker 1: Third thought " + n + ".\n";
      } else {
        transcript += "Speaker 2: Answer " + n + ", which runs on for a while so that it " +
                      "wraps across more than one line of the page.\n";
      }
    }
    json library = {{"meetings",
                     {{{"id", "long1"},
                       {"title", kTitle},
                       {"createdAt", "2026-12-07T09:00:00Z"},
                       {"durationSeconds", 5025.5},
                       {"transcript", transcript}},
                      {{"id", "short1"},
                       {"title", "Short call"},
                       {"createdAt", "2026-12-08T09:00:00Z"},
                       {"durationSeconds", 85.05863945578231},
                       {"transcript", "You: hi\n"}}}}};
    env["MURMELA_STAND_IN_LIBRARY"] = home.write("library.json", library.dump());
    StandIn::SetUp();
  }

  std::string pdf_text(const std::string& pdf, int page = 0) {
    std::vector<std::string> args;
    if (page > 0) args = {"-f", std::to_string(page), "-l", std::to_string(page)};
    args.insert(args.end(), {pdf, "-"});
    auto text = run_program("/usr/bin/pdftotext", args, {env, "", home.path()});
    EXPECT_EQ(text.exit_code, 0) << text.err;
    return text.out;
  }

  bool has_poppler() const {
    return fs::exists("/usr/bin/pdftotext") && fs::exists("/usr/bin/pdfinfo");
  }
};

// Durations read as a clock in every document; the JSON keeps the number.
TEST_F(StandInDocuments, DocumentsShowDurationsAsAClock) {
  struct Case {
    const char* id;
    const char* clock;
    const char* raw;
  };
  for (const Case& c : {Case{"long1", "1:23:46", "5025"}, Case{"short1", "1:25", "85.05"}}) {
    std::vector<std::string> documents;
    for (const char* name : {"a.md", "a.txt", "a.html"}) {
      cli_json({"meetings", "export", c.id, home / name});
      documents.push_back(home.read(name));
    }
    if (has_poppler()) {
      cli_json({"meetings", "export", c.id, home / "a.pdf"});
      documents.push_back(pdf_text(home / "a.pdf"));
    }
    for (const std::string& document : documents) {
      EXPECT_NE(document.find(std::string("· ") + c.clock), std::string::npos) << document;
      EXPECT_EQ(document.find(c.raw), std::string::npos) << document;
    }
  }
  EXPECT_EQ(cli_json({"meetings", "show", "short1"})["durationSeconds"], 85.05863945578231);
}

// One paragraph per speaker turn: a speaker's consecutive lines are joined,
// in every document format.
TEST_F(StandInDocuments, ASpeakersConsecutiveLinesAreOneParagraph) {
  const std::string first = "First thought 1. Second thought 1. Third thought 1.";
  struct Case {
    const char* name;
    std::string turn;  // the first turn as the format writes it
    std::string speaker;
  };
  for (const Case& c :
       {Case{"a.md", "**Speaker 1:** " + first + "\n\n**Speaker 2:** Answer 2", "**Speaker 1:**"},
        Case{"a.txt", "\nSpeaker 1: " + first + "\n\nSpeaker 2: Answer 2", "Speaker 1:"},
        Case{"a.html",
             "<p><strong>Speaker 1:</strong> " + first +
                 "</p>\n<p><strong>Speaker 2:</strong> Answer 2",
             "<strong>Speaker 1:</strong>"}}) {
    cli_json({"meetings", "export", "long1", home / c.name});
    const std::string document = home.read(c.name);
    EXPECT_NE(document.find(c.turn), std::string::npos) << document;
    EXPECT_EQ(count_of(document, c.speaker), std::size_t{kTurns / 2}) << c.name;
  }
  if (has_poppler()) {
    cli_json({"meetings", "export", "long1", home / "a.pdf"});
    const std::string text = pdf_text(home / "a.pdf");
    EXPECT_NE(text.find("Speaker 1: " + first), std::string::npos) << text;
    EXPECT_EQ(count_of(text, "Speaker 1:"), std::size_t{kTurns / 2}) << text;
  }
}

// A PDF of many pages numbers them ("2 / 11") and carries the meeting's
// title at the top of every page but the first, which has it as its heading.
TEST_F(StandInDocuments, APdfNumbersItsPagesAndRunsTheTitle) {
  if (!has_poppler()) GTEST_SKIP() << "poppler-utils is not installed";
  cli_json({"meetings", "export", "long1", home / "a.pdf"});
  auto info = run_program("/usr/bin/pdfinfo", {home / "a.pdf"}, {env, "", home.path()});
  std::smatch pages_line;
  ASSERT_TRUE(std::regex_search(info.out, pages_line, std::regex("Pages: +([0-9]+)"))) << info.out;
  const int pages = std::stoi(pages_line[1]);
  ASSERT_GE(pages, 3) << "the long meeting should take several pages";
  for (int page = 1; page <= pages; ++page) {
    const std::string text = pdf_text(home / "a.pdf", page);
    const std::string number = std::to_string(page) + " / " + std::to_string(pages);
    EXPECT_NE(text.find(number), std::string::npos) << "page " << page << ":\n" << text;
    EXPECT_EQ(count_of(text, kTitle), 1u) << "page " << page << ":\n" << text;
    if (page > 1) {
      EXPECT_TRUE(text.starts_with(kTitle)) << "page " << page << ":\n" << text;
    }
  }
}

}  // namespace
