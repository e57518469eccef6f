// Helpers of the text-fitting checks: the pixel limit of a dialog field as
// the fitting computes it, text measured the way the fitting measures it,
// and the process's standard output captured around a call.
#ifndef QVX_TESTS_TEST_FITTING_H
#define QVX_TESTS_TEST_FITTING_H

#include <windows.h>
#include <string>
#include <vector>

// Width of the control in whole horizontal dialog units (from its window
// rectangle and the dialog's average character), and that width mapped back
// to pixels: the limit the text must fit.
int FieldWidthUnits(HWND dialog, int id);
int FieldPixelLimit(HWND dialog, int id);

// Measures on the dialog's own device context in the 8-point
// "MS Sans Serif" font built as the fitting builds it.
struct FittingMeasure {
    int pixelsPerInch = 0;
    std::string face;                 // face name the context reports
    int Width(const std::string &text) const;   // GetTextExtentPoint32A
    // Width of the first j characters for j = 0 .. size, in one session.
    std::vector<int> PrefixWidths(const std::string &text) const;
    HWND dialog = NULL;
};
FittingMeasure MeasureOn(HWND dialog);

// The fitted text worked out independently: the longest prefix (at most
// 254 characters) whose width is within the limit, then up to three of its
// last characters given up for "..." when they are at least as wide.
std::string ExpectedFittedText(const FittingMeasure &measure, const std::string &text, int limit);

// Captures what the process writes to its standard output between Begin and
// End (file descriptor 1 redirected to a file).
class StdoutCapture {
public:
    void Begin();
    std::string End();
private:
    int saved_ = -1;
};

#endif
