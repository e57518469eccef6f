/* Text fitting: a static control's text cut with "..." to the control's
   pixel width. */
#ifndef QUORVEX_TEXTFIT_TEXTFIT_H
#define QUORVEX_TEXTFIT_TEXTFIT_H

#include <windows.h>

int SetFittedDlgItemText(HWND hDlg, int controlId, const char *text);
int ClipStringToWidth(HWND hDlg, const char *text, int widthDialogUnits, char *output);

#endif
