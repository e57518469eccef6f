// Text-fitting helpers of the tests: field limits, measuring in the fitting
// font on the dialog's context, and standard output captured to a file.
#include "test_fitting.h"

#include <fcntl.h>
#include <io.h>
#include <stdio.h>
#include <string.h>

static HFONT CreateFittingFont(HDC dc, int *pixelsPerInch)
{
    LOGFONTA font;
    memset(&font, 0, sizeof(font));
    *pixelsPerInch = GetDeviceCaps(dc, LOGPIXELSY);
    font.lfHeight = *pixelsPerInch / 9;
    font.lfWeight = FW_NORMAL;
    font.lfCharSet = DEFAULT_CHARSET;
    font.lfPitchAndFamily = VARIABLE_PITCH | FF_SWISS;
    strcpy(font.lfFaceName, "MS Sans Serif");
    return CreateFontIndirectA(&font);
}

int FieldWidthUnits(HWND dialog, int id)
{
    RECT character = { 0, 0, 4, 8 };
    MapDialogRect(dialog, &character);
    RECT window = { 0, 0, 0, 0 };
    GetWindowRect(GetDlgItem(dialog, id), &window);
    int pixels = window.right - window.left;
    return (int)((double)pixels / (character.right / 4.0));
}

int FieldPixelLimit(HWND dialog, int id)
{
    RECT limit = { 0, 0, FieldWidthUnits(dialog, id), 10 };
    MapDialogRect(dialog, &limit);
    return limit.right;
}

FittingMeasure MeasureOn(HWND dialog)
{
    FittingMeasure measure;
    measure.dialog = dialog;
    HDC dc = GetDC(dialog);
    HFONT font = CreateFittingFont(dc, &measure.pixelsPerInch);
    HGDIOBJ previous = SelectObject(dc, font);
    char face[32] = { 0 };
    GetTextFaceA(dc, sizeof(face), face);
    measure.face = face;
    SelectObject(dc, previous);
    DeleteObject(font);
    ReleaseDC(dialog, dc);
    return measure;
}

int FittingMeasure::Width(const std::string &text) const
{
    HDC dc = GetDC(dialog);
    int dpi = 0;
    HFONT font = CreateFittingFont(dc, &dpi);
    HGDIOBJ previous = SelectObject(dc, font);
    SIZE size = { 0, 0 };
    GetTextExtentPoint32A(dc, text.c_str(), (int)text.size(), &size);
    SelectObject(dc, previous);
    DeleteObject(font);
    ReleaseDC(dialog, dc);
    return size.cx;
}

std::vector<int> FittingMeasure::PrefixWidths(const std::string &text) const
{
    std::vector<int> widths;
    HDC dc = GetDC(dialog);
    int dpi = 0;
    HFONT font = CreateFittingFont(dc, &dpi);
    HGDIOBJ previous = SelectObject(dc, font);
    for (size_t j = 0; j <= text.size(); j++) {
        SIZE size = { 0, 0 };
        GetTextExtentPoint32A(dc, text.c_str(), (int)j, &size);
        widths.push_back(size.cx);
    }
    SelectObject(dc, previous);
    DeleteObject(font);
    ReleaseDC(dialog, dc);
    return widths;
}

std::string ExpectedFittedText(const FittingMeasure &measure, const std::string &whole, int limit)
{
    std::string text = whole.substr(0, 254);
    std::vector<int> widths = measure.PrefixWidths(text);
    size_t fit = 0;
    while (fit < text.size() && widths[fit + 1] <= limit) fit++;
    if (fit == text.size()) return text;
    int ellipsis = measure.Width("...");
    for (size_t k = 1; k <= 3 && k <= fit; k++) {
        if (widths[fit] - widths[fit - k] >= ellipsis) {
            return text.substr(0, fit - k) + "...";
        }
    }
    return text.substr(0, fit);
}

static const char *const CapturePath = "C:\\qvx_stdout_capture.txt";

void StdoutCapture::Begin()
{
    fflush(stdout);
    saved_ = _dup(_fileno(stdout));
    FILE *file = fopen(CapturePath, "wb");
    if (file) {
        _dup2(_fileno(file), _fileno(stdout));
        fclose(file);
    }
}

std::string StdoutCapture::End()
{
    fflush(stdout);
    if (saved_ >= 0) {
        _dup2(saved_, _fileno(stdout));
        _close(saved_);
        saved_ = -1;
    }
    std::string text;
    FILE *file = fopen(CapturePath, "rb");
    if (!file) return text;
    char buffer[1024];
    size_t n;
    while ((n = fread(buffer, 1, sizeof(buffer), file)) > 0) text.append(buffer, n);
    fclose(file);
    DeleteFileA(CapturePath);
    // The runtime may write the descriptor in text mode: line ends back to "\n".
    std::string plain;
    for (size_t i = 0; i < text.size(); i++) {
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') continue;
        plain.push_back(text[i]);
    }
    return plain;
}
