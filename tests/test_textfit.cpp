// Text fitting: the cutting rule on written-down widths; fittings in the program's dialog, whole
// traces in tests/expected/textfit.log, and each measuring call that can fail made to fail.
#include <gtest/gtest.h>
#include "log/log.h"
#include "res/resource.h"
#include "support/test_support.h"
#include "textfit/textfit.h"

namespace
{
TEST(TextFit, CutIndexOnWrittenDownWidthsAndFontHeight)
{
    const struct {
        std::vector<int> widths; // of the first 1, 2, ... fitting characters
        int cut;                 // where "..." 9 pixels wide goes
    } rows[] = {
        { { 5, 10, 15, 20, 25, 30, 35, 40, 45, 50, 55, 60, 65, 70, 75, 80, 85, 90, 95, 100 }, 18 },
        { { 5, 10, 15, 20, 29 }, 4 },
        { { 6, 12, 18, 22, 27 }, 3 },
        { { 5, 10, 15, 20, 23, 26, 29 }, 4 },
        { { 5, 10, 15, 17, 19, 21 }, 6 },
        { { 10 }, 0 },
        { { 4 }, 1 },
        { { 3, 12 }, 1 },
        { { 3, 6, 9 }, 0 },
        { {}, 0 },
    };
    for (const auto &row : rows) {
        int cut = EllipsisCutIndex(row.widths.data(), (int)row.widths.size(), 9);
        EXPECT_EQ(row.cut, cut) << "fit " << row.widths.size();
    }
    EXPECT_EQ(10, MeasuringFontHeight(96));
    EXPECT_EQ(13, MeasuringFontHeight(120));
}

// The expected text with each gap "{}" filled by what the text holds there, up to what follows
// the gap on its line: equal to the text when the text matches.
std::string FillGaps(std::string expected, const std::string &text)
{
    size_t gap = expected.find("{}");
    while (gap != std::string::npos && gap < text.size()) {
        size_t after = expected.find('\n', gap) - gap - 2;
        size_t end = std::min(text.find('\n', gap), text.size());
        size_t length = end - gap > after ? end - gap - after : 0;
        expected.replace(gap, 2, text.substr(gap, length));
        gap = expected.find("{}", gap + length);
    }
    return expected;
}

std::string Failing; // the measuring call that fails
HGDIOBJ Arial;       // the context's font when the System font must be asked for
HGDIOBJ Previous;    // the context's font as the measuring found it
HGDIOBJ Measuring;   // the font selected when the face is read
HGDIOBJ AtRelease;   // the font selected when the context is released

bool Fails(const std::string &call)
{
    if (Failing != call)
        return false;
    SetLastError(1400);
    return true;
}

BOOL WINAPI Map(HWND dialog, LPRECT rect)
{
    bool character = rect->bottom == 8; // the average character, before the control's width
    return Fails(character ? "first MapDialogRect" : "MapDialogRect") ? FALSE
                                                                      : MapDialogRect(dialog, rect);
}

HDC WINAPI Dc(HWND dialog)
{
    return Fails("GetDC") ? NULL : GetDC(dialog);
}

HGDIOBJ WINAPI Font(HDC dc, UINT type)
{
    Previous = Failing == "GetStockObject" ? Arial : GetCurrentObject(dc, type);
    return Fails("GetCurrentObject") ? NULL : Previous;
}

HGDIOBJ WINAPI Stock(int which)
{
    return Fails("GetStockObject") ? NULL : GetStockObject(which);
}

int WINAPI Face(HDC dc, int size, LPSTR face)
{
    Measuring = GetCurrentObject(dc, OBJ_FONT);
    return Fails("GetTextFace") ? 0 : GetTextFaceA(dc, size, face);
}

int WINAPI Release(HWND dialog, HDC dc)
{
    AtRelease = GetCurrentObject(dc, OBJ_FONT);
    int released = ReleaseDC(dialog, dc);
    return Fails("ReleaseDC") ? 0 : released;
}

std::string Log()
{
    ControllerLogClose();
    std::string log = ReadControllerLog();
    OpenFreshControllerLog();
    return log;
}

TEST(TextFit, FittingsInTheDialogAndEachMeasuringCallFailing)
{
    const std::string dashes(300, '\x97'); // each at least as wide as "..."
    HWND dialog = CreateBareDialog();
    Arial = CreateFontA(-12, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, "Arial");
    TextFitCalls = { Map, Dc, Font, Stock, Face, Release };
    OpenFreshControllerLog();

    EXPECT_EQ(1, SetFittedDlgItemText(dialog, IDC_DESCRIPTION, "Apache/2.2 HTTP Server"));
    EXPECT_EQ("Apache/2.2 HTTP Server", DialogItemText(dialog, IDC_DESCRIPTION));
    EXPECT_EQ(1, SetFittedDlgItemText(dialog, IDC_DESCRIPTION, dashes.c_str()));
    std::string log = Log();
    EXPECT_EQ(FillGaps(ExpectedText("textfit.log"), log), log);
    // The last fitting dash, wider than "...", gives way to it.
    std::string shown = DialogItemText(dialog, IDC_DESCRIPTION);
    std::string kept = shown.substr(0, shown.size() - std::min<size_t>(shown.size(), 3));
    EXPECT_EQ(kept + "...", shown);
    EXPECT_NE(std::string::npos, log.find("\nClipped String: " + kept + "\x97\n"));
    EXPECT_EQ(0u, GetObjectType(Measuring)) << "the measuring font not deleted";
    EXPECT_EQ(Previous, AtRelease) << "the context's font not given back";

    const struct {
        const char *failing;
        const char *shown;
        const char *ending; // of the trace
    } rows[] = {
        { "ReleaseDC", "MySQL", "context (DC).\n\nReleaseDC() failed (1400).\n" },
        { "GetDC", "", "(DC).\n\nGetDC() failed (1400).\n" },
        { "GetCurrentObject", "", "(DC).\n\nGetCurrentObject(OBJ_FONT) failed (1400).\n" },
        { "GetStockObject", "",
          "Face: Arial\n\nSwitching to \"System\" Font Face...\n\n"
          "GetStockObject(SYSTEM_FONT) failed (1400).\n" },
        { "GetTextFace", "", "\n\nGetTextFace() failed (1400).\n" },
        { "MapDialogRect", "", "[if needed]...\n\nMapDialogRect() failed (1400).\n" },
        { "first MapDialogRect", "old", "\nMapDialogRect() failed (1400).\n" },
    };
    for (const auto &row : rows) {
        Failing = row.failing;
        SetDlgItemTextA(dialog, IDC_DESCRIPTION, "old");

        SetFittedDlgItemText(dialog, IDC_DESCRIPTION, "MySQL");

        EXPECT_EQ(row.shown, DialogItemText(dialog, IDC_DESCRIPTION)) << row.failing;
        log = Log();
        size_t length = std::min(log.size(), strlen(row.ending));
        EXPECT_EQ(row.ending, log.substr(log.size() - length)) << row.failing;
    }
    TextFitCalls = TextFitSystemCallsDefault;
    DestroyWindow(dialog);
}
} // namespace
