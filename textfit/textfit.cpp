/* Text fitting: puts a text into a static control of the dialog, measured
   on the dialog's display device context in an 8-point "MS Sans Serif"
   font and cut with "..." where it is wider than the control, tracing every
   step in the ControllerLog. */
#include "textfit.h"

#include <stdlib.h>
#include <string.h>

#include "../log/log.h"

/* One average character of the dialog font is four horizontal dialog
   units; the clipping rectangle is ten vertical units high. */
#define AVERAGE_CHARACTER_UNITS 4
#define AVERAGE_CHARACTER_ROWS  8
#define CLIP_RECT_HEIGHT_UNITS  10
#define ELLIPSIS_LENGTH         3
#define ELLIPSIS_LOOK_BACK_MAX  3
#define FACE_NAME_SIZE          32
#define FACE_NAME_COPY_LIMIT    31
#define LOGFONT_SIZE            60
#define FONT_HEIGHT_PER_INCH    0.11111111f

const TextFitSystemCalls TextFitSystemCallsDefault = { MapDialogRect,    GetDC,
                                                       GetCurrentObject, GetStockObject,
                                                       GetTextFaceA,     ReleaseDC };

TextFitSystemCalls TextFitCalls = TextFitSystemCallsDefault;

int MeasuringFontHeight(int pixelsPerInch)
{
    return (int)((float)pixelsPerInch * FONT_HEIGHT_PER_INCH);
}

/* Width of the first `count` characters; no characters have no width. */
static int PartialWidth(const int *partialWidths, int count)
{
    return count <= 0 ? 0 : partialWidths[count - 1];
}

int EllipsisCutIndex(const int *partialWidths, int fit, int ellipsisWidth)
{
    int k;

    for (k = 1; k <= ELLIPSIS_LOOK_BACK_MAX && k <= fit; k++) {
        if (PartialWidth(partialWidths, fit) - PartialWidth(partialWidths, fit - k) >=
            ellipsisWidth) {
            return fit - k;
        }
    }
    return fit;
}

int ClipStringToWidth(HWND hDlg, const char *text, int widthDialogUnits, char *output)
{
    RECT limitRect;
    HDC hdc = NULL;
    HGDIOBJ previousFont = NULL;
    HFONT measuringFont = NULL;
    LOGFONTA previousLogFont;
    LOGFONTA measuringLogFont;
    char previousFace[FACE_NAME_SIZE];
    char currentFace[FACE_NAME_SIZE];
    HGDIOBJ systemFont;
    int *partialWidths = NULL;
    int length;
    int limit;
    int pixelsPerInch;
    int fontHeight;
    int fit = 0;
    int cut;
    SIZE extent;
    SIZE ellipsisExtent;
    int result = 0;

    if (text == NULL) {
        text = "";
    }
    ControllerLogAppend("\nClipping string to fit '%d' Dialog Units [if needed]...\n",
                        widthDialogUnits);

    limitRect.left = 0;
    limitRect.top = 0;
    limitRect.right = widthDialogUnits;
    limitRect.bottom = CLIP_RECT_HEIGHT_UNITS;
    if (!TextFitCalls.pMapDialogRect(hDlg, &limitRect)) {
        ControllerLogAppend("\nMapDialogRect() failed (%d).\n", (int)GetLastError());
        return 0;
    }
    limit = limitRect.right;

    /* Measured as at most its first CLIP_TEXT_MAX characters, so that the
       output buffer always holds the result. */
    length = (int)strlen(text);
    if (length > CLIP_TEXT_MAX) {
        length = CLIP_TEXT_MAX;
    }
    ControllerLogAppend("\nControl Width: %d [pixels]\n", limit);
    ControllerLogAppend("\nString: %.*s", length, text);
    ControllerLogAppend("\nString Length: %d [characters]\n", length);
    ControllerLogAppend("\nRetrieving handle to a display device context (DC).\n");

    hdc = TextFitCalls.pGetDC(hDlg);
    if (hdc == NULL) {
        ControllerLogAppend("\nGetDC() failed (%d).\n", (int)GetLastError());
        goto cleanup;
    }

    previousFont = TextFitCalls.pGetCurrentObject(hdc, OBJ_FONT);
    if (previousFont == NULL) {
        ControllerLogAppend("\nGetCurrentObject(OBJ_FONT) failed (%d).\n", (int)GetLastError());
        goto cleanup;
    }
    memset(&previousLogFont, 0, sizeof(previousLogFont));
    GetObjectA(previousFont, LOGFONT_SIZE, &previousLogFont);
    memset(previousFace, 0, sizeof(previousFace));
    memcpy(previousFace, previousLogFont.lfFaceName, FACE_NAME_COPY_LIMIT);
    ControllerLogAppend("\nCurrent Detected Font Face: %s\n", previousFace);

    if (strcmp(previousFace, "System") != 0) {
        ControllerLogAppend("\nSwitching to \"System\" Font Face...\n");
        systemFont = TextFitCalls.pGetStockObject(SYSTEM_FONT);
        if (systemFont == NULL) {
            ControllerLogAppend("\nGetStockObject(SYSTEM_FONT) failed (%d).\n",
                                (int)GetLastError());
            goto cleanup;
        }
        SelectObject(hdc, systemFont);
    }

    ControllerLogAppend("\nSwitching to \"%s\" Font Face...\n", CLIP_FONT_FACE);
    pixelsPerInch = GetDeviceCaps(hdc, LOGPIXELSY);
    ControllerLogAppend("\n[Detected] Pixels per logical inch: %d\n", pixelsPerInch);
    fontHeight = MeasuringFontHeight(pixelsPerInch);
    ControllerLogAppend("\n[Input] Height of font: %d\n", fontHeight);

    memset(&measuringLogFont, 0, sizeof(measuringLogFont));
    measuringLogFont.lfHeight = fontHeight;
    measuringLogFont.lfWeight = FW_NORMAL;
    measuringLogFont.lfCharSet = DEFAULT_CHARSET;
    measuringLogFont.lfOutPrecision = OUT_DEFAULT_PRECIS;
    measuringLogFont.lfClipPrecision = CLIP_DEFAULT_PRECIS;
    measuringLogFont.lfQuality = DEFAULT_QUALITY;
    measuringLogFont.lfPitchAndFamily = VARIABLE_PITCH | FF_SWISS;
    strncpy(measuringLogFont.lfFaceName, CLIP_FONT_FACE, FACE_NAME_COPY_LIMIT);
    measuringFont = CreateFontIndirectA(&measuringLogFont);
    if (measuringFont != NULL) {
        SelectObject(hdc, measuringFont);
    }

    memset(currentFace, 0, sizeof(currentFace));
    if (TextFitCalls.pGetTextFaceA(hdc, FACE_NAME_SIZE, currentFace) == 0) {
        ControllerLogAppend("\nGetTextFace() failed (%d).\n", (int)GetLastError());
        goto cleanup;
    }
    currentFace[FACE_NAME_SIZE - 1] = '\0';
    ControllerLogAppend("\nCurrent Type Face name of DC: %s\n", currentFace);

    partialWidths = (int *)calloc(length > 0 ? (size_t)length : 1, sizeof(int));
    if (partialWidths == NULL) {
        ControllerLogAppend("\nUnable to allocate %d bytes for the partial widths.\n",
                            (int)(length * sizeof(int)));
        goto cleanup;
    }
    memset(&extent, 0, sizeof(extent));
    GetTextExtentExPointA(hdc, text, length, limit, &fit, partialWidths, &extent);
    if (fit < 0) {
        fit = 0;
    }
    if (fit > length) {
        fit = length;
    }

    memcpy(output, text, (size_t)fit);
    output[fit] = '\0';
    ControllerLogAppend("\nString Width: %d [pixels]\n", (int)extent.cx);

    if (fit < length) {
        ControllerLogAppend("\nClipped String: %s", output);
        ControllerLogAppend("\nClipped String Length: %d [characters]\n", (int)strlen(output));
        memset(&ellipsisExtent, 0, sizeof(ellipsisExtent));
        if (GetTextExtentPoint32A(hdc, CLIP_ELLIPSIS, ELLIPSIS_LENGTH, &ellipsisExtent)) {
            cut = EllipsisCutIndex(partialWidths, fit, (int)ellipsisExtent.cx);
        } else {
            /* Without the width of "..." nothing can be given up safely. */
            cut = fit;
        }
        ControllerLogAppend("\n\"...\" String Width: %d [pixels]\n", (int)ellipsisExtent.cx);
        if (cut < fit) {
            memcpy(output + cut, CLIP_ELLIPSIS, ELLIPSIS_LENGTH + 1);
        }
    }
    result = 1;

cleanup:
    free(partialWidths);
    if (hdc != NULL) {
        if (previousFont != NULL) {
            SelectObject(hdc, previousFont);
        }
        if (measuringFont != NULL) {
            DeleteObject(measuringFont);
        }
        if (result) {
            ControllerLogAppend("\nReleasing handle to the display device context (DC).\n");
        }
        if (TextFitCalls.pReleaseDC(hDlg, hdc) == 0 && result) {
            ControllerLogAppend("\nReleaseDC() failed (%d).\n", (int)GetLastError());
        }
    }
    return result;
}

int SetFittedDlgItemText(HWND hDlg, int controlId, const char *text)
{
    char input[CLIP_INPUT_SIZE];
    char output[CLIP_OUTPUT_SIZE];
    RECT characterRect;
    RECT controlRect;
    int averageCharacter;
    int controlPixels;
    int widthDialogUnits = 0;

    memset(input, 0, sizeof(input));
    memset(output, 0, sizeof(output));
    if (text != NULL) {
        strncpy(input, text, CLIP_INPUT_SIZE);
    }
    input[CLIP_TEXT_MAX] = '\0';

    characterRect.left = 0;
    characterRect.top = 0;
    characterRect.right = AVERAGE_CHARACTER_UNITS;
    characterRect.bottom = AVERAGE_CHARACTER_ROWS;
    if (!TextFitCalls.pMapDialogRect(hDlg, &characterRect)) {
        ControllerLogAppend("\nMapDialogRect() failed (%d).\n", (int)GetLastError());
        return 0;
    }
    averageCharacter = characterRect.right;

    memset(&controlRect, 0, sizeof(controlRect));
    GetWindowRect(GetDlgItem(hDlg, controlId), &controlRect);
    controlPixels = controlRect.right - controlRect.left;

    if (averageCharacter > 0) {
        widthDialogUnits = (int)((double)controlPixels / ((double)averageCharacter * 0.25));
    }

    ClipStringToWidth(hDlg, input, widthDialogUnits, output);
    SetDlgItemTextA(hDlg, controlId, output);
    return 1;
}
