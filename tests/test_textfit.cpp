// Text fitting: the cutting rule on exact widths, then fittings on the
// program's dialog template whose whole trace is tests/expected/textfit.log,
// with failing calls put in through the measuring's call table.
#include <gtest/gtest.h>
#include "app/controller.h"
#include "log/log.h"
#include "res/resource.h"
#include "support/test_support.h"
#include "textfit/textfit.h"
namespace
{
TEST(TextFit, CutRuleOnExactWidthsAndFontHeight)
{
    const struct {
        std::vector<int> partial;
        int cut;
    } rule[] = {
        // ellipsis 9 pixels wide
        { { 5, 10, 15, 20, 25, 30, 35, 40, 45, 50, 55, 60, 65, 70, 75, 80, 85, 90, 95, 100 }, 18 },
        { { 5, 10, 15, 20, 29 }, 4 },
        { { 6, 12, 18, 22, 27 }, 3 },
        { { 5, 10, 15, 20, 23, 26, 29 }, 4 },
        { { 5, 10, 15, 17, 19, 21 }, 6 },
        { { 10 }, 0 },
        { { 4 }, 1 },
        { { 3, 12 }, 1 },
        { { 3, 6, 9 }, 0 },
        { {}, 0 }
    };
    for (const auto &c : rule)
        EXPECT_EQ(c.cut, EllipsisCutIndex(c.partial.data(), (int)c.partial.size(), 9))
            << c.partial.size();
    EXPECT_EQ(10, MeasuringFontHeight(96));
    EXPECT_EQ(13, MeasuringFontHeight(120));
    EXPECT_EQ(16, MeasuringFontHeight(144));
}
HGDIOBJ Arial, Measuring, AtRelease;
int MapCalls, MapFailAt;
BOOL WINAPI Map(HWND d, LPRECT r)
{
    if (++MapCalls != MapFailAt)
        return MapDialogRect(d, r);
    SetLastError(1413);
    return FALSE;
}
HDC WINAPI NoDC(HWND)
{
    SetLastError(1400);
    return NULL;
}
HGDIOBJ WINAPI NoFont(HDC, UINT)
{
    SetLastError(6);
    return NULL;
}
HGDIOBJ WINAPI ArialFont(HDC, UINT)
{
    return Arial;
}
HGDIOBJ WINAPI NoStock(int)
{
    SetLastError(87);
    return NULL;
}
int WINAPI Face(HDC dc, int n, LPSTR s)
{
    Measuring = GetCurrentObject(dc, OBJ_FONT);
    return GetTextFaceA(dc, n, s);
}
int WINAPI NoFace(HDC dc, int, LPSTR)
{
    Measuring = GetCurrentObject(dc, OBJ_FONT);
    SetLastError(1114);
    return 0;
}
int WINAPI Release(HWND w, HDC dc)
{
    AtRelease = GetCurrentObject(dc, OBJ_FONT);
    return ReleaseDC(w, dc);
}
int WINAPI NoRelease(HWND w, HDC dc)
{
    Release(w, dc);
    SetLastError(1401);
    return 0;
}
struct FitCase {
    std::string text, shown;
    int mapFailAt;
    HDC(WINAPI *dc)(HWND);
    HGDIOBJ(WINAPI *font)(HDC, UINT);
    HGDIOBJ(WINAPI *stock)(int);
    int(WINAPI *face)(HDC, int, LPSTR);
    int(WINAPI *release)(HWND, HDC);
};
TEST(TextFit, FittingsOnTheDialogTemplateWithTheirWholeTrace)
{
    const FitCase cases[] = {
        { "Apache/2.2 HTTP Server", "Apache/2.2 HTTP Server", 0, GetDC, GetCurrentObject,
          GetStockObject, Face, Release },
        { "The Apache HTTP Server of the local web-development stack, serving PHP and Perl pages",
          "The Apache HTTP Server of the local web-development stack, serving PHP ...", 0, GetDC,
          GetCurrentObject, GetStockObject, Face, Release },
        { std::string(300, 'i'), std::string(119, 'i') + "...", 0, GetDC, GetCurrentObject,
          GetStockObject, Face, Release },
        { "", "", 0, GetDC, GetCurrentObject, GetStockObject, Face, Release },
        { "Tomcat5", "Tomcat5", 0, GetDC, ArialFont, GetStockObject, Face, Release },
        { "MySQL", "MySQL", 0, GetDC, GetCurrentObject, GetStockObject, Face, NoRelease },
        { "MySQL", "", 0, NoDC, GetCurrentObject, GetStockObject, Face, Release },
        { "MySQL", "", 0, GetDC, NoFont, GetStockObject, Face, Release },
        { "MySQL", "", 0, GetDC, ArialFont, NoStock, Face, Release },
        { "MySQL", "", 0, GetDC, GetCurrentObject, GetStockObject, NoFace, Release },
        { "MySQL", "", 2, GetDC, GetCurrentObject, GetStockObject, Face, Release },
        { "MySQL", "old", 1, GetDC, GetCurrentObject, GetStockObject, Face, Release }
    };
    HWND dialog = CreateBareDialog();
    HDC dc = GetDC(dialog);
    HGDIOBJ original = GetCurrentObject(dc, OBJ_FONT); // the dialog's own font, to be given back
    ReleaseDC(dialog, dc);
    Arial = CreateFontA(-12, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0, 0, "Arial");
    OpenFreshControllerLog();
    for (const FitCase &c : cases) {
        TextFitCalls = { Map, c.dc, c.font, c.stock, c.face, c.release };
        MapCalls = 0, MapFailAt = c.mapFailAt, Measuring = AtRelease = NULL;
        SetDlgItemTextA(dialog, IDC_DESCRIPTION, "old");
        EXPECT_EQ(c.mapFailAt != 1, SetFittedDlgItemText(dialog, IDC_DESCRIPTION, c.text.c_str()));
        EXPECT_EQ(c.shown, DialogItemText(dialog, IDC_DESCRIPTION)) << c.text;
        bool released = c.dc == GetDC && c.mapFailAt == 0; // the previous font is back by then
        EXPECT_EQ(released ? (c.font == ArialFont ? Arial : original) : NULL, AtRelease) << c.text;
        EXPECT_EQ(0u, Measuring ? GetObjectType(Measuring) : 0)
            << "measuring font not deleted: " << c.text;
    }
    TextFitCalls = TextFitSystemCallsDefault, ControllerLogClose();
    EXPECT_EQ(ExpectedText("textfit.log"), ReadControllerLog());
    DestroyWindow(dialog);
}
} // namespace
