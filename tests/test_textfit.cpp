// Text fitting: the cutting rule over exact partial widths, the font height,
// and SetFittedDlgItemText on the program's own dialog template measured
// with real GDI under Xvfb, with its whole trace; the failures of the device
// context and font calls through the measuring's call table.
#include <gtest/gtest.h>

#include <string.h>
#include <string>
#include <vector>

#include "app/controller.h"
#include "res/resource.h"
#include "textfit/textfit.h"
#include "support/test_fitting.h"
#include "support/test_support.h"

namespace {

// ---------------------------------------------------------------------------
// The cutting rule with exact widths.

std::vector<int> Partial(const std::vector<int> &characterWidths)
{
    std::vector<int> partial;
    int sum = 0;
    for (int w : characterWidths) partial.push_back(sum += w);
    return partial;
}

struct CutCase {
    const char *name;
    std::vector<int> characterWidths;   // only the fitting characters
    int ellipsisWidth;
    int expectedCut;                    // index of "...", or fit: none
};

TEST(EllipsisCutRule, TableOfCases)
{
    const CutCase cases[] = {
        // Limit 100, 5-pixel characters: 20 fit; one gives 5 < 9, two give 10.
        { "worked example", std::vector<int>(20, 5), 9, 18 },
        { "last character at least as wide as the ellipsis", { 5, 5, 5, 5, 12 }, 9, 4 },
        { "last character exactly as wide", { 5, 5, 5, 5, 9 }, 9, 4 },
        { "two narrow characters give way", { 6, 6, 6, 4, 5 }, 9, 3 },
        { "three narrow characters give way", { 5, 5, 5, 5, 3, 3, 3 }, 9, 4 },
        { "three together still too narrow: no ellipsis", { 5, 5, 5, 2, 2, 2 }, 9, 6 },
        { "four fitting, look-back stops at the second", { 1, 3, 3, 3 }, 9, 1 },
        // Fewer than four fitting characters: never before the first one.
        { "nothing fits", {}, 9, 0 },
        { "one wide character: the ellipsis alone", { 10 }, 9, 0 },
        { "one narrow character: kept, no ellipsis", { 4 }, 9, 1 },
        { "two characters both given up", { 4, 5 }, 9, 0 },
        { "two narrow characters kept", { 3, 3 }, 9, 2 },
        { "two characters, the last one given up", { 3, 9 }, 9, 1 },
        { "three characters all given up", { 3, 3, 3 }, 9, 0 },
        { "three narrow characters kept", { 2, 2, 2 }, 9, 3 },
    };
    for (const CutCase &c : cases) {
        std::vector<int> partial = Partial(c.characterWidths);
        int fit = (int)partial.size();
        int cut = EllipsisCutIndex(partial.empty() ? nullptr : partial.data(), fit, c.ellipsisWidth);
        EXPECT_EQ(c.expectedCut, cut) << c.name;
        EXPECT_GE(cut, 0) << c.name;
        EXPECT_LE(cut, fit) << c.name;
        if (cut < fit) {
            int givenUp = partial[fit - 1] - (cut > 0 ? partial[cut - 1] : 0);
            EXPECT_GE(givenUp, c.ellipsisWidth) << c.name << ": the ellipsis must not widen the text";
        }
    }
}

// The worked example as a whole: the first 18 of 30 characters and "...".
TEST(EllipsisCutRule, WorkedExampleGivesEighteenCharactersAndEllipsis)
{
    std::vector<int> all = Partial(std::vector<int>(30, 5));
    int fit = 0;
    while (fit < 30 && all[fit] <= 100) fit++;
    ASSERT_EQ(20, fit);
    std::string text = "abcdefghijklmnopqrstuvwxyz0123";
    int cut = EllipsisCutIndex(all.data(), fit, 9);
    EXPECT_EQ("abcdefghijklmnopqr...", text.substr(0, cut) + "...");
}

TEST(MeasuringFont, HeightIsEightPointsAtEveryResolution)
{
    const struct { int dpi; int height; } rows[] = {
        { 72, 8 }, { 96, 10 }, { 120, 13 }, { 144, 16 }, { 192, 21 }, { 0, 0 },
    };
    for (const auto &row : rows) {
        EXPECT_EQ(row.height, MeasuringFontHeight(row.dpi)) << "at " << row.dpi << " dpi";
    }
    for (int dpi = 1; dpi <= 1200; dpi++) {
        ASSERT_EQ(dpi / 9, MeasuringFontHeight(dpi)) << "at " << dpi << " dpi";
    }
}

// ---------------------------------------------------------------------------
// Real measuring on the dialog template.

struct TraceFacts {
    int units;
    int limit;
    std::string text;       // as measured (at most 254 characters)
    std::string previousFace;
    bool switchToSystem;
    int dpi;
    std::string face;
    int width;
    bool clipped;
    std::string clippedText;  // the fitting characters, before the ellipsis
    int ellipsisWidth;
};

std::string ExpectedTrace(const TraceFacts &f)
{
    std::string t;
    t += "\nClipping string to fit '" + std::to_string(f.units) + "' Dialog Units [if needed]...\n";
    t += "\nControl Width: " + std::to_string(f.limit) + " [pixels]\n";
    t += "\nString: " + f.text;
    t += "\nString Length: " + std::to_string(f.text.size()) + " [characters]\n";
    t += "\nRetrieving handle to a display device context (DC).\n";
    t += "\nCurrent Detected Font Face: " + f.previousFace + "\n";
    if (f.switchToSystem) t += "\nSwitching to \"System\" Font Face...\n";
    t += "\nSwitching to \"MS Sans Serif\" Font Face...\n";
    t += "\n[Detected] Pixels per logical inch: " + std::to_string(f.dpi) + "\n";
    t += "\n[Input] Height of font: " + std::to_string(f.dpi / 9) + "\n";
    t += "\nCurrent Type Face name of DC: " + f.face + "\n";
    t += "\nString Width: " + std::to_string(f.width) + " [pixels]\n";
    if (f.clipped) {
        t += "\nClipped String: " + f.clippedText;
        t += "\nClipped String Length: " + std::to_string(f.clippedText.size()) + " [characters]\n";
        t += "\n\"...\" String Width: " + std::to_string(f.ellipsisWidth) + " [pixels]\n";
    }
    t += "\nReleasing handle to the display device context (DC).\n";
    return t;
}

// The fitting characters: longest prefix within the limit.
std::string FittingPrefix(const FittingMeasure &m, const std::string &text, int limit)
{
    std::vector<int> widths = m.PrefixWidths(text);
    size_t fit = 0;
    while (fit < text.size() && widths[fit + 1] <= limit) fit++;
    return text.substr(0, fit);
}

class FittingOnDialog : public ::testing::Test {
protected:
    void SetUp() override
    {
        TextFitCalls = TextFitSystemCallsDefault;
        OpenFreshControllerLog();
        dialog = CreateBareDialog();
        ASSERT_NE((HWND)NULL, dialog);
        measure = MeasureOn(dialog);
    }
    void TearDown() override
    {
        TextFitCalls = TextFitSystemCallsDefault;
        if (dialog) DestroyWindow(dialog);
        ControllerLogClose();
    }
    // Sets the text through the fitting and returns the trace it wrote.
    std::string FitAndReadTrace(int id, const char *text, int *result = nullptr)
    {
        OpenFreshControllerLog();
        int r = SetFittedDlgItemText(dialog, id, text);
        if (result) *result = r;
        ControllerLogClose();
        return ReadControllerLog();
    }
    TraceFacts Facts(int id, const std::string &whole)
    {
        TraceFacts f;
        f.units = FieldWidthUnits(dialog, id);
        f.limit = FieldPixelLimit(dialog, id);
        f.text = whole.substr(0, 254);
        f.previousFace = "System";
        f.switchToSystem = false;
        f.dpi = measure.pixelsPerInch;
        f.face = measure.face;
        f.width = measure.Width(f.text);
        f.clippedText = FittingPrefix(measure, f.text, f.limit);
        f.clipped = f.clippedText.size() < f.text.size();
        f.ellipsisWidth = measure.Width("...");
        return f;
    }
    HWND dialog = NULL;
    FittingMeasure measure;
};

TEST_F(FittingOnDialog, MeasuringFontAndFieldWidthOnTheTemplate)
{
    EXPECT_EQ(96, measure.pixelsPerInch);
    // The face is whatever the system substitutes for "MS Sans Serif".
    EXPECT_FALSE(measure.face.empty());
    // The value fields are 210 dialog units wide; the pixel round trip may
    // lose a unit.
    int units = FieldWidthUnits(dialog, IDC_DESCRIPTION);
    EXPECT_TRUE(units == 210 || units == 209) << units;
}

TEST_F(FittingOnDialog, TextThatFitsIsShownUnchangedWithoutClippedLines)
{
    const char *text = "Apache/2.2 HTTP Server";
    int result = 0;
    std::string trace = FitAndReadTrace(IDC_DESCRIPTION, text, &result);
    EXPECT_EQ(1, result);
    EXPECT_EQ(text, DialogItemText(dialog, IDC_DESCRIPTION));
    TraceFacts f = Facts(IDC_DESCRIPTION, text);
    ASSERT_FALSE(f.clipped);
    EXPECT_EQ(ExpectedTrace(f), trace);
    EXPECT_EQ(std::string::npos, trace.find("Clipped String"));
}

TEST_F(FittingOnDialog, LongTextIsClippedWithEllipsisWithinTheField)
{
    std::string text = "The Apache HTTP Server of the local web-development stack, "
                       "serving PHP and Perl pages from the www root directory";
    std::string trace = FitAndReadTrace(IDC_BINARY_PATH, text.c_str());
    TraceFacts f = Facts(IDC_BINARY_PATH, text);
    ASSERT_TRUE(f.clipped);
    EXPECT_EQ(ExpectedTrace(f), trace);
    std::string shown = DialogItemText(dialog, IDC_BINARY_PATH);
    EXPECT_EQ(ExpectedFittedText(measure, text, f.limit), shown);
    ASSERT_GE(shown.size(), 4u);
    EXPECT_EQ("...", shown.substr(shown.size() - 3));
    EXPECT_EQ(0u, text.find(shown.substr(0, shown.size() - 3)));
    EXPECT_LE(measure.Width(shown), f.limit) << shown;
}

TEST_F(FittingOnDialog, NarrowLastCharactersGiveWayTwoOrThreeAtATime)
{
    // Cut inside a run of narrow letters: "..." replaces more than one.
    std::string text(300, 'i');
    std::string trace = FitAndReadTrace(IDC_DESCRIPTION, text.c_str());
    TraceFacts f = Facts(IDC_DESCRIPTION, text);
    ASSERT_TRUE(f.clipped);
    EXPECT_EQ(ExpectedTrace(f), trace);
    std::string shown = DialogItemText(dialog, IDC_DESCRIPTION);
    EXPECT_EQ(ExpectedFittedText(measure, text, f.limit), shown);
    EXPECT_LE(measure.Width(shown), f.limit);
    if (measure.Width("i") * 3 >= measure.Width("...") && measure.Width("i") < measure.Width("...")) {
        EXPECT_LT(shown.size(), f.clippedText.size() + 2) << "more than one character must give way";
    }
}

TEST_F(FittingOnDialog, TextLongerThan254CharactersIsMeasuredAsItsFirst254)
{
    // Resized so that 254 narrow characters fit: nothing else is cut.
    HWND field = GetDlgItem(dialog, IDC_DESCRIPTION);
    SetWindowPos(field, NULL, 0, 0, 4000, 20, SWP_NOMOVE | SWP_NOZORDER);
    std::string text;
    for (int i = 0; i < 300; i++) text.push_back((char)('a' + i % 26));
    std::string trace = FitAndReadTrace(IDC_DESCRIPTION, text.c_str());
    TraceFacts f = Facts(IDC_DESCRIPTION, text);
    ASSERT_FALSE(f.clipped) << "the field should hold 254 characters";
    EXPECT_EQ(ExpectedTrace(f), trace);
    EXPECT_NE(std::string::npos, trace.find("\nString Length: 254 [characters]\n"));
    EXPECT_EQ(text.substr(0, 254), DialogItemText(dialog, IDC_DESCRIPTION));
}

TEST_F(FittingOnDialog, EmptyAndNullTextsSetTheEmptyText)
{
    SetDlgItemTextA(dialog, IDC_DESCRIPTION, "old text");
    std::string trace = FitAndReadTrace(IDC_DESCRIPTION, "");
    EXPECT_EQ("", DialogItemText(dialog, IDC_DESCRIPTION));
    TraceFacts f = Facts(IDC_DESCRIPTION, "");
    EXPECT_EQ(0, f.width);
    EXPECT_EQ(ExpectedTrace(f), trace);

    SetDlgItemTextA(dialog, IDC_DESCRIPTION, "old text");
    int result = 0;
    EXPECT_EQ(ExpectedTrace(f), FitAndReadTrace(IDC_DESCRIPTION, nullptr, &result));
    EXPECT_EQ(1, result);
    EXPECT_EQ("", DialogItemText(dialog, IDC_DESCRIPTION));
}

// Very narrow fields: zero to three fitting characters and more, with wide
// and narrow letters. The result stays a prefix of the text (with "..."
// only where what it replaces is at least as wide) and within the limit.
TEST_F(FittingOnDialog, VeryNarrowFieldsStayWithinTextAndLimit)
{
    HWND field = GetDlgItem(dialog, IDC_DESCRIPTION);
    const char *const texts[] = { "WWWWWWWWWWWW", "iiiiiiiiiiiiii", "Wil Wil Wil Wil" };
    bool seen[4] = { false, false, false, false };
    for (const char *text : texts) {
        for (int pixels = 0; pixels <= 48; pixels += 2) {
            SetWindowPos(field, NULL, 0, 0, pixels, 20, SWP_NOMOVE | SWP_NOZORDER);
            int limit = FieldPixelLimit(dialog, IDC_DESCRIPTION);
            ASSERT_EQ(1, SetFittedDlgItemText(dialog, IDC_DESCRIPTION, text));
            std::string shown = DialogItemText(dialog, IDC_DESCRIPTION);
            std::string where = std::string(text) + " at " + std::to_string(pixels) + " pixels";
            EXPECT_EQ(ExpectedFittedText(measure, text, limit), shown) << where;
            EXPECT_LE(measure.Width(shown), limit) << where;
            size_t fit = FittingPrefix(measure, text, limit).size();
            if (fit < 4) seen[fit] = true;
            bool ellipsis = shown.size() >= 3 && shown.substr(shown.size() - 3) == "...";
            std::string kept = ellipsis ? shown.substr(0, shown.size() - 3) : shown;
            EXPECT_EQ(0u, std::string(text).find(kept)) << where;
            EXPECT_LE(kept.size(), fit) << where;
        }
    }
    for (int fit = 0; fit < 4; fit++) EXPECT_TRUE(seen[fit]) << "no field with " << fit << " fitting characters";
}

// A dialog class with its own device context keeps a font selected between
// calls: the measuring then switches to "System" first and gives the
// previous font back at the end.
LRESULT CALLBACK OwnDcDialogProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam)
{
    return DefDlgProcA(window, message, wParam, lParam);
}

HWND CreateOwnDcDialog()
{
    WNDCLASSA wc;
    memset(&wc, 0, sizeof(wc));
    wc.style = CS_OWNDC;
    wc.lpfnWndProc = OwnDcDialogProc;
    wc.cbWndExtra = DLGWINDOWEXTRA;
    wc.hInstance = GetModuleHandleA(NULL);
    wc.lpszClassName = "QvxOwnDcDialog";
    RegisterClassA(&wc);

    // DLGTEMPLATE, class name, caption, font, one static control 10201.
    std::vector<WORD> t;
    auto dword = [&t](DWORD v) { t.push_back(LOWORD(v)); t.push_back(HIWORD(v)); };
    auto text = [&t](const char *s) { while (*s) t.push_back((WORD)*s++); t.push_back(0); };
    dword(WS_POPUP | WS_VISIBLE | DS_SETFONT);
    dword(0);
    t.push_back(1);
    t.push_back(0); t.push_back(0); t.push_back(280); t.push_back(100);
    t.push_back(0);                 // no menu
    text("QvxOwnDcDialog");
    text("own dc");
    t.push_back(8);
    text("MS Sans Serif");
    if (t.size() % 2) t.push_back(0);
    dword(WS_CHILD | WS_VISIBLE | SS_LEFTNOWORDWRAP);
    dword(0);
    t.push_back(60); t.push_back(90); t.push_back(210); t.push_back(10);
    t.push_back(IDC_DESCRIPTION);
    t.push_back(0xFFFF); t.push_back(0x0082);  // STATIC
    t.push_back(0);                            // no text
    t.push_back(0);                            // no creation data
    return CreateDialogIndirectParamA(GetModuleHandleA(NULL), (LPCDLGTEMPLATEA)t.data(), NULL,
                                      NULL, 0);
}

TEST_F(FittingOnDialog, SelectedFontOtherThanSystemIsSwitchedAndGivenBack)
{
    HWND own = CreateOwnDcDialog();
    ASSERT_NE((HWND)NULL, own);
    HDC dc = GetDC(own);
    HFONT arial = CreateFontA(-12, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, "Arial");
    SelectObject(dc, arial);
    ReleaseDC(own, dc);
    LOGFONTA selected;
    memset(&selected, 0, sizeof(selected));
    dc = GetDC(own);
    GetObjectA(GetCurrentObject(dc, OBJ_FONT), sizeof(selected), &selected);
    ReleaseDC(own, dc);
    ASSERT_STREQ("Arial", selected.lfFaceName) << "own device context did not keep its font";

    OpenFreshControllerLog();
    EXPECT_EQ(1, SetFittedDlgItemText(own, IDC_DESCRIPTION, "Tomcat5"));
    ControllerLogClose();
    std::string trace = ReadControllerLog();
    FittingMeasure m = MeasureOn(own);
    TraceFacts f;
    f.units = FieldWidthUnits(own, IDC_DESCRIPTION);
    f.limit = FieldPixelLimit(own, IDC_DESCRIPTION);
    f.text = "Tomcat5";
    f.previousFace = "Arial";
    f.switchToSystem = true;
    f.dpi = m.pixelsPerInch;
    f.face = m.face;
    f.width = m.Width("Tomcat5");
    f.clipped = false;
    f.ellipsisWidth = 0;
    EXPECT_EQ(ExpectedTrace(f), trace);
    EXPECT_EQ("Tomcat5", DialogItemText(own, IDC_DESCRIPTION));

    dc = GetDC(own);
    EXPECT_EQ((HGDIOBJ)arial, GetCurrentObject(dc, OBJ_FONT)) << "previous font not selected back";
    ReleaseDC(own, dc);
    DestroyWindow(own);
    DeleteObject(arial);
}

// ---------------------------------------------------------------------------
// Failures of the device context and font calls, through the call table.

int MapCalls;
int MapFailOnCall;
int ReleaseCalls;
HGDIOBJ FontAtRelease;
HGDIOBJ MeasuringFontSeen;
HGDIOBJ ForeignFont;

BOOL WINAPI MapFailingOnCall(HWND dialog, LPRECT rect)
{
    if (++MapCalls == MapFailOnCall) {
        SetLastError(1413);
        return FALSE;
    }
    return MapDialogRect(dialog, rect);
}
HDC WINAPI GetDCFailing(HWND)
{
    SetLastError(1400);
    return NULL;
}
HGDIOBJ WINAPI CurrentObjectFailing(HDC, UINT)
{
    SetLastError(6);
    return NULL;
}
HGDIOBJ WINAPI CurrentObjectForeign(HDC, UINT)
{
    return ForeignFont;
}
HGDIOBJ WINAPI StockObjectFailing(int)
{
    SetLastError(87);
    return NULL;
}
int WINAPI TextFaceFailing(HDC dc, int, LPSTR)
{
    MeasuringFontSeen = GetCurrentObject(dc, OBJ_FONT);
    SetLastError(1114);
    return 0;
}
int WINAPI ReleaseCounting(HWND window, HDC dc)
{
    ReleaseCalls++;
    FontAtRelease = GetCurrentObject(dc, OBJ_FONT);
    return ReleaseDC(window, dc);
}
int WINAPI ReleaseFailing(HWND window, HDC dc)
{
    ReleaseCalls++;
    ReleaseDC(window, dc);
    SetLastError(1401);
    return 0;
}

class FittingFailures : public FittingOnDialog {
protected:
    void SetUp() override
    {
        FittingOnDialog::SetUp();
        MapCalls = 0;
        MapFailOnCall = 0;
        ReleaseCalls = 0;
        FontAtRelease = NULL;
        MeasuringFontSeen = NULL;
        ForeignFont = NULL;
        TextFitCalls.pReleaseDC = ReleaseCounting;
        SetDlgItemTextA(dialog, IDC_DESCRIPTION, "old text");
    }
    // The trace up to the device context request, for a text that fits.
    std::string TraceHead(const char *text)
    {
        TraceFacts f = Facts(IDC_DESCRIPTION, text);
        return "\nClipping string to fit '" + std::to_string(f.units) + "' Dialog Units [if needed]...\n"
               "\nControl Width: " + std::to_string(f.limit) + " [pixels]\n"
               "\nString: " + text +
               "\nString Length: " + std::to_string(strlen(text)) + " [characters]\n"
               "\nRetrieving handle to a display device context (DC).\n";
    }
    std::string MeasuringHead()
    {
        return "\nSwitching to \"MS Sans Serif\" Font Face...\n"
               "\n[Detected] Pixels per logical inch: " + std::to_string(measure.pixelsPerInch) + "\n"
               "\n[Input] Height of font: " + std::to_string(measure.pixelsPerInch / 9) + "\n";
    }
};

TEST_F(FittingFailures, DeviceContextUnavailableClearsTheControl)
{
    TextFitCalls.pGetDC = GetDCFailing;
    int result = 0;
    std::string trace = FitAndReadTrace(IDC_DESCRIPTION, "MySQL", &result);
    EXPECT_EQ(1, result) << "the control was set (to the empty text)";
    EXPECT_EQ("", DialogItemText(dialog, IDC_DESCRIPTION));
    EXPECT_EQ(TraceHead("MySQL") + "\nGetDC() failed (1400).\n", trace);
    EXPECT_EQ(0, ReleaseCalls) << "no context to release";
}

TEST_F(FittingFailures, CurrentFontUnavailableReleasesTheContext)
{
    TextFitCalls.pGetCurrentObject = CurrentObjectFailing;
    std::string trace = FitAndReadTrace(IDC_DESCRIPTION, "MySQL");
    EXPECT_EQ("", DialogItemText(dialog, IDC_DESCRIPTION));
    EXPECT_EQ(TraceHead("MySQL") + "\nGetCurrentObject(OBJ_FONT) failed (6).\n", trace);
    EXPECT_EQ(1, ReleaseCalls);
}

TEST_F(FittingFailures, StockSystemFontUnavailableReleasesTheContext)
{
    ForeignFont = CreateFontA(-12, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, "Arial");
    TextFitCalls.pGetCurrentObject = CurrentObjectForeign;
    TextFitCalls.pGetStockObject = StockObjectFailing;
    std::string trace = FitAndReadTrace(IDC_DESCRIPTION, "MySQL");
    EXPECT_EQ("", DialogItemText(dialog, IDC_DESCRIPTION));
    EXPECT_EQ(TraceHead("MySQL") +
              "\nCurrent Detected Font Face: Arial\n"
              "\nSwitching to \"System\" Font Face...\n"
              "\nGetStockObject(SYSTEM_FONT) failed (87).\n", trace);
    EXPECT_EQ(1, ReleaseCalls);
    DeleteObject(ForeignFont);
}

TEST_F(FittingFailures, TypeFaceUnavailableDeletesTheFontAndGivesBackThePrevious)
{
    HDC dc = GetDC(dialog);
    HGDIOBJ original = GetCurrentObject(dc, OBJ_FONT);
    ReleaseDC(dialog, dc);
    TextFitCalls.pGetTextFaceA = TextFaceFailing;
    std::string trace = FitAndReadTrace(IDC_DESCRIPTION, "MySQL");
    EXPECT_EQ("", DialogItemText(dialog, IDC_DESCRIPTION));
    EXPECT_EQ(TraceHead("MySQL") + "\nCurrent Detected Font Face: System\n" + MeasuringHead() +
              "\nGetTextFace() failed (1114).\n", trace);
    EXPECT_EQ(1, ReleaseCalls);
    ASSERT_NE((HGDIOBJ)NULL, MeasuringFontSeen);
    EXPECT_NE(original, MeasuringFontSeen) << "the measuring font was not selected";
    EXPECT_EQ(0u, GetObjectType(MeasuringFontSeen)) << "the measuring font was not deleted";
    EXPECT_EQ(original, FontAtRelease) << "the previous font was not selected back";
}

TEST_F(FittingFailures, ReleaseFailureIsLoggedAndTheTextStillSet)
{
    TextFitCalls.pReleaseDC = ReleaseFailing;
    int result = 0;
    std::string trace = FitAndReadTrace(IDC_DESCRIPTION, "MySQL", &result);
    EXPECT_EQ(1, result);
    EXPECT_EQ("MySQL", DialogItemText(dialog, IDC_DESCRIPTION));
    TraceFacts f = Facts(IDC_DESCRIPTION, "MySQL");
    EXPECT_EQ(ExpectedTrace(f) + "\nReleaseDC() failed (1401).\n", trace);
    EXPECT_EQ(1, ReleaseCalls);
}

TEST_F(FittingFailures, BaseUnitsUnmappableLeaveTheControlUntouched)
{
    MapFailOnCall = 1;
    TextFitCalls.pMapDialogRect = MapFailingOnCall;
    int result = 1;
    std::string trace = FitAndReadTrace(IDC_DESCRIPTION, "MySQL", &result);
    EXPECT_EQ(0, result);
    EXPECT_EQ("old text", DialogItemText(dialog, IDC_DESCRIPTION));
    EXPECT_EQ("\nMapDialogRect() failed (1413).\n", trace);
}

TEST_F(FittingFailures, LimitUnmappableClearsTheControl)
{
    MapFailOnCall = 2;
    TextFitCalls.pMapDialogRect = MapFailingOnCall;
    int result = 0;
    std::string trace = FitAndReadTrace(IDC_DESCRIPTION, "MySQL", &result);
    EXPECT_EQ(1, result);
    EXPECT_EQ("", DialogItemText(dialog, IDC_DESCRIPTION));
    EXPECT_EQ("\nClipping string to fit '" + std::to_string(FieldWidthUnits(dialog, IDC_DESCRIPTION)) +
              "' Dialog Units [if needed]...\n"
              "\nMapDialogRect() failed (1413).\n", trace);
    EXPECT_EQ(0, ReleaseCalls);
}

TEST_F(FittingFailures, FailedClippingLeavesTheCallersOutputUnwritten)
{
    TextFitCalls.pGetDC = GetDCFailing;
    char output[CLIP_OUTPUT_SIZE];
    memset(output, 'Z', sizeof(output));
    EXPECT_EQ(0, ClipStringToWidth(dialog, "MySQL", 210, output));
    for (size_t i = 0; i < sizeof(output); i++) ASSERT_EQ('Z', output[i]) << "byte " << i;
}

// A window that is not a dialog has no base units: the real call fails.
TEST_F(FittingOnDialog, WindowThatIsNotADialogLeavesTheControlUntouched)
{
    HWND frame = CreateWindowA("STATIC", "", WS_POPUP, 0, 0, 300, 100, NULL, NULL,
                               GetModuleHandleA(NULL), NULL);
    HWND field = CreateWindowA("STATIC", "old text", WS_CHILD, 0, 0, 200, 20, frame,
                               (HMENU)(INT_PTR)IDC_DESCRIPTION, GetModuleHandleA(NULL), NULL);
    ASSERT_NE((HWND)NULL, field);
    OpenFreshControllerLog();
    SetLastError(0xdeadbeef);
    EXPECT_EQ(0, SetFittedDlgItemText(frame, IDC_DESCRIPTION, "MySQL"));
    ControllerLogClose();
    std::string trace = ReadControllerLog();
    EXPECT_EQ(0u, trace.find("\nMapDialogRect() failed (")) << trace;
    EXPECT_EQ(std::string::npos, trace.find("Clipping")) << trace;
    EXPECT_EQ("old text", DialogItemText(frame, IDC_DESCRIPTION));
    DestroyWindow(frame);
}

}  // namespace

namespace {

// ---------------------------------------------------------------------------
// Another resolution: the system DPI is read when a process starts, so this
// program runs itself again with LogPixels set to 120 and the child fits a
// text on the template while the parent reads the child's trace.

const char *const ChildVariable = "QVX_FIT_CHILD";

// In the child the fitting runs before the tests would: one text on the
// template, and the process ends with 0 when the control holds it.
struct FittingChild {
    FittingChild()
    {
        char flag[8] = { 0 };
        if (GetEnvironmentVariableA(ChildVariable, flag, sizeof(flag)) == 0) return;
        OpenFreshControllerLog();
        HWND dialog = CreateBareDialog();
        int ok = dialog != NULL && SetFittedDlgItemText(dialog, IDC_DESCRIPTION, "MySQL") == 1 &&
                 DialogItemText(dialog, IDC_DESCRIPTION) == "MySQL";
        if (dialog) DestroyWindow(dialog);
        ControllerLogClose();
        ExitProcess(ok ? 0 : 1);
    }
};
FittingChild RunAsChildWhenAsked;

DWORD RunChild()
{
    char self[MAX_PATH] = { 0 };
    GetModuleFileNameA(NULL, self, MAX_PATH);
    std::string command = std::string("\"") + self + "\"";
    SetEnvironmentVariableA(ChildVariable, "1");
    STARTUPINFOA startup;
    memset(&startup, 0, sizeof(startup));
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process;
    std::vector<char> line(command.begin(), command.end());
    line.push_back('\0');
    BOOL created = CreateProcessA(NULL, line.data(), NULL, NULL, FALSE, 0, NULL, NULL, &startup, &process);
    SetEnvironmentVariableA(ChildVariable, NULL);
    if (!created) return 0xFFFFFFFF;
    WaitForSingleObject(process.hProcess, 120000);
    DWORD code = 0xFFFFFFFF;
    GetExitCodeProcess(process.hProcess, &code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    return code;
}

bool SetLogPixels(const DWORD *value)
{
    HKEY key;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, "Control Panel\\Desktop", 0, NULL, 0, KEY_SET_VALUE, NULL,
                        &key, NULL) != ERROR_SUCCESS) {
        return false;
    }
    LONG status = value ? RegSetValueExA(key, "LogPixels", 0, REG_DWORD, (const BYTE *)value, sizeof(*value))
                        : RegDeleteValueA(key, "LogPixels");
    RegCloseKey(key);
    return status == ERROR_SUCCESS || (!value && status == ERROR_FILE_NOT_FOUND);
}

TEST(FittingAtResolution, HeightFollowsTheSystemResolution)
{
    const DWORD dpi = 120;
    ASSERT_TRUE(SetLogPixels(&dpi));
    DWORD code = RunChild();
    SetLogPixels(nullptr);
    ASSERT_EQ((DWORD)0, code) << "the child's fitting failed";
    std::string trace = ReadControllerLog();
    EXPECT_NE(std::string::npos, trace.find("\n[Detected] Pixels per logical inch: 120\n"
                                            "\n[Input] Height of font: 13\n")) << trace;
}

}  // namespace
