// Page and script requests served from the scrambled sibling files.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>

#include "LogReader.h"
#include "TelmarScript.h"
#include "TempDir.h"
#include "UiTestSupport.h"

namespace fs = std::filesystem;
namespace test = uie::test;

namespace {

class PageLoadTest : public UiTest {
protected:
    void Write(const std::string& name, const std::string& bytes) {
        std::ofstream(dir_ / name, std::ios::binary) << bytes;
    }
    void WriteScrambled(const std::string& name, const std::string& payload) {
        const auto stored = TelmarScriptEncode(std::vector<std::uint8_t>(payload.begin(), payload.end()), 77);
        Write(name, std::string(stored.begin(), stored.end()));
    }
    std::wstring PathOf(const std::string& name) const { return text::FromUtf8((dir_ / name).string()); }

    // A window in this thread, as the windows sharing another window's thread are made.
    ProbeWindow& Load(const std::string& name) {
        ProbeWindow& w = Make(PathOf(name), false);
        EXPECT_EQ(w.Start(), 0);
        return w;
    }
    test::LoadSource SourceOf(const std::string& name) const {
        const std::wstring uri = L"file://" + PathOf(name);
        test::LoadSource source = test::LoadSource::Missing;
        for (const auto& record : test::LoadLog()) {
            if (record.uri == uri) source = record.source;
        }
        return source;
    }

    TempDir dir_;
};

const std::string kPlainPage = "<html><body><p id=\"plain-only\">plain</p></body></html>";

TEST_F(PageLoadTest, PageAndScriptComeDescrambledFromTheirStoredFiles) {
    // The page as the build stored it, beside a plain page of the same name.
    fs::copy_file(fs::path(QUORV_UI_SCRAMBLED_PAGES) / "window.uih", dir_ / "page.uih");
    Write("page.htm", kPlainPage);
    ProbeWindow& page = Load("page.htm");
    EXPECT_EQ(page.GetState(), CSciterWindow::kStateReady);
    EXPECT_NE(test::Find(page.GetHwnd(), "#scrambled-only"), nullptr);
    EXPECT_EQ(test::Find(page.GetHwnd(), "#plain-only"), nullptr);
    EXPECT_EQ(SourceOf("page.htm"), test::LoadSource::Callback);

    const std::string script = "function Update(x) { return x; } // " + std::string(200, 's');
    Write("scripted.htm", "<html><head><script src=\"code.tis\"></script></head><body></body></html>");
    WriteScrambled("code.uis", script);
    ProbeWindow& scripted = Load("scripted.htm");
    const auto bytes = test::ResourceBytes(scripted.GetRootElement(), L"file://" + PathOf("code.tis"));
    ASSERT_TRUE(bytes.has_value());
    EXPECT_EQ(std::string(bytes->begin(), bytes->end()), script);
}

TEST_F(PageLoadTest, OtherRequestsAndCorruptStoredFilesLoadThePlainFile) {
    Write("UPPER.HTM", "<html><head><link rel=\"stylesheet\" href=\"style.css\"></head><body>"
                       "<p id=\"plain-only\">plain</p></body></html>");
    WriteScrambled("UPPER.uih", "<p id=\"scrambled-only\">stored</p>");
    Write("style.css", "p { color: red }");
    WriteScrambled("style.uih", "stored style");
    Write("bad.uih", std::string(200, 'z'));
    Write("bad.htm", kPlainPage);
    Write("empty.uih", "");
    Write("empty.htm", kPlainPage);
    for (const char* page : {"UPPER.HTM", "bad.htm", "empty.htm"}) {
        EXPECT_NE(test::Find(Load(page).GetHwnd(), "#plain-only"), nullptr) << page;
    }
    EXPECT_EQ(SourceOf("UPPER.HTM"), test::LoadSource::File);
    EXPECT_EQ(SourceOf("style.css"), test::LoadSource::File);
    EXPECT_EQ(CountLogLines(L"TelmarScriptDecode len[200][" + PathOf("bad.uih") + L"]fail!"), 1);
    EXPECT_EQ(CountLogLines(L"TelmarScriptDecode len[0][" + PathOf("empty.uih") + L"]fail!"), 1);
}

}  // namespace
