/* Text fitting: a static control's text cut with "..." to the control's
   pixel width. */
#ifndef QUORVEX_TEXTFIT_TEXTFIT_H
#define QUORVEX_TEXTFIT_TEXTFIT_H

#include <windows.h>

/* At most this many characters of a text are measured and shown; the
   output buffer of ClipStringToWidth must hold CLIP_OUTPUT_SIZE bytes. */
#define CLIP_TEXT_MAX    254
#define CLIP_INPUT_SIZE  255
#define CLIP_OUTPUT_SIZE 258
#define CLIP_ELLIPSIS    "..."
#define CLIP_FONT_FACE   "MS Sans Serif"

int SetFittedDlgItemText(HWND hDlg, int controlId, const char *text);
int ClipStringToWidth(HWND hDlg, const char *text, int widthDialogUnits, char *output);

/* The cutting rule over the partial widths of the fitting characters
   (partialWidths[j] is the width of the first j + 1 characters): the index
   at which "..." replaces the tail, or fit when no ellipsis is placed. The
   look-back gives up one, two or three characters but never reaches before
   the first one, so with fewer than three fitting characters only as many
   are tried as there are. */
int EllipsisCutIndex(const int *partialWidths, int fit, int ellipsisWidth);

/* Height in pixels of the 8-point measuring font at the given resolution. */
int MeasuringFontHeight(int pixelsPerInch);

/* The user and GDI calls of the measuring that can fail. The program uses
   TextFitSystemCallsDefault; a test may put others in their place to make
   one of them fail, which the system never does for a live dialog. */
typedef struct TextFitSystemCalls {
    BOOL(WINAPI *pMapDialogRect)(HWND hDlg, LPRECT lpRect);
    HDC(WINAPI *pGetDC)(HWND hWnd);
    HGDIOBJ(WINAPI *pGetCurrentObject)(HDC hdc, UINT type);
    HGDIOBJ(WINAPI *pGetStockObject)(int i);
    int(WINAPI *pGetTextFaceA)(HDC hdc, int c, LPSTR lpName);
    int(WINAPI *pReleaseDC)(HWND hWnd, HDC hDC);
} TextFitSystemCalls;

extern TextFitSystemCalls TextFitCalls;
extern const TextFitSystemCalls TextFitSystemCallsDefault;

#endif
