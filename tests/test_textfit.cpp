// Text fitting: the cutting rule; a fitting in the dialog, traced; a window no dialog.
#include <gtest/gtest.h>
#include "log/log.h"
#include "res/resource.h"
#include "support/test_support.h"
#include "textfit/textfit.h"

namespace
{
int WINAPI NotReleased(HWND window, HDC context)
{
    ReleaseDC(window, context);
    SetLastError(ERROR_INVALID_HANDLE);
    return 0;
}

TEST(TextFit, CutIndexAndFontHeight)
{
    const struct {
        std::vector<int> widths; // of the first 1, 2, ... fitting characters
        int cut;                 // where "..." 9 pixels wide goes
    } rows[] = {
        { { 5, 10, 15, 20, 29 }, 4 },
        { { 6, 12, 18, 22, 27 }, 3 },
        { { 5, 10, 15, 20, 23, 26, 29 }, 4 },
        { { 5, 10, 15, 17, 19, 21 }, 6 },
        { { 3, 6, 9 }, 0 },
    };
    for (const auto &row : rows)
        EXPECT_EQ(row.cut, EllipsisCutIndex(row.widths.data(), (int)row.widths.size(), 9));
    EXPECT_EQ(13, MeasuringFontHeight(120));
}

TEST(TextFit, FittingsInTheDialog)
{
    const std::string dashes(300, '\x97'); // each at least as wide as "..."
    HWND dialog = CreateBareDialog();
    OpenFreshControllerLog();

    SetFittedDlgItemText(dialog, IDC_DESCRIPTION, dashes.c_str());

    // The last fitting dash gives way to "...".
    std::string shown = DialogItemText(dialog, IDC_DESCRIPTION);
    size_t fit = shown.size() - 2;
    EXPECT_EQ(dashes.substr(0, fit - 1) + "...", shown);
    ControllerLogClose();
    EXPECT_EQ("",
              LogMismatch(ReadControllerLog(), ExpectedText("textfit.log"),
                          { { "FIT", std::to_string(fit) }, { "KEPT", dashes.substr(0, fit) } }));

    // A window that is no dialog: its rectangles cannot be mapped.
    HWND control = GetDlgItem(dialog, IDC_DESCRIPTION);
    OpenFreshControllerLog();
    char output[CLIP_OUTPUT_SIZE] = "old";
    EXPECT_EQ(0, SetFittedDlgItemText(control, IDC_DESCRIPTION, "MySQL"));
    EXPECT_EQ(0, ClipStringToWidth(control, "MySQL", 210, output));
    EXPECT_STREQ("old", output);
    ControllerLogClose();
    EXPECT_EQ("", LogMismatch(ReadControllerLog(), ExpectedText("textfit_unmapped.log"), {}));

    // The display context not released after a fitting.
    TextFitCalls.pReleaseDC = NotReleased;
    OpenFreshControllerLog();
    EXPECT_EQ(1, SetFittedDlgItemText(dialog, IDC_DESCRIPTION, "MySQL"));
    TextFitCalls = TextFitSystemCallsDefault;
    ControllerLogClose();
    EXPECT_EQ("", LogMismatch(ReadControllerLog(),
                              "~~~\nReleasing handle to the display device context (DC).\n"
                              "\nReleaseDC() failed (6).\n",
                              {}));
    DestroyWindow(dialog);
}
} // namespace
