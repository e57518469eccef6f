/* The menu commands: files opened in Notepad, local and outside pages in
   the browser, the command prompt and the Services console, all handed to
   the shell without waiting; Requery All, About and Exit. */
#include "controller.h"
#include "../log/log.h"

#include <shellapi.h>
#include <stdio.h>
#include <string.h>

#include "../res/resource.h"
#include "../services/services.h"
#include "../network/network.h"
#include "../paths/paths.h"
#include "../hostinfo/hostinfo.h"
#include "../modules/modules.h"

#define MENU_TEXT_SIZE    256
#define COMMAND_LINE_SIZE 80

/* The ranges of ids by the kind of action. */
#define IDM_NOTEPAD_FIRST 9100
#define IDM_NOTEPAD_LAST  9199
#define IDM_URL_FIRST     9200
#define IDM_URL_LAST      9299
#define IDM_TOOL_FIRST    9300
#define IDM_TOOL_LAST     9399

/* A launch result above this is a success; ids that launch nothing keep
   one above it. */
#define SHELL_FAILURE_LIMIT 32
#define NO_LAUNCH_RESULT    33
/* A launch refused before the shell because its directory or parameters
   would not fit whole: a failure, logged with its reason,
   ERROR_FILENAME_EXCED_RANGE, a number the shell never returns. */
#define LAUNCH_TOO_LONG     (-ERROR_FILENAME_EXCED_RANGE)

#define ABOUT_TEXT            "Quorvex Controller v2.00"
#define ABOUT_CAPTION         "About..."
#define COMMAND_PROMPT_PREFIX "/K CD /D "

typedef struct NotepadCommand {
    int id;
    const char *lpFile;
    const char *lpDirectory; /* a SuitePaths member */
} NotepadCommand;

static const NotepadCommand NotepadCommands[] = {
    { IDM_ACCESS_LOG, "access.log", SuitePaths.ApacheLogsPath },
    { IDM_ERROR_LOG, "error.log", SuitePaths.ApacheLogsPath },
    { IDM_HTTPD_CONF, "httpd.conf", SuitePaths.ApacheConfPath },
    { IDM_HTTPD_SSL_CONF, "httpd-ssl.conf", SuitePaths.ApacheConfExtraPath },
    { IDM_SUITE_CUSTOM_CONF, "suite-custom.conf", SuitePaths.ApacheConfSuitePath },
    { IDM_HTTPD_VHOSTS_CONF, "httpd-vhosts.conf", SuitePaths.ApacheConfExtraPath },
    { IDM_MY_INI, "my.ini", SuitePaths.MySqlIniPath },
    { IDM_PHP_INI, "php.ini", SuitePaths.PhpIniPath },
    { IDM_HOSTS_FILE, "hosts", SuitePaths.HostsFileDirectory },
};

typedef struct UrlCommand {
    int id;
    const char *lpText;
} UrlCommand;

/* Pages of the local web server, put behind its base URL. */
static const UrlCommand LocalPages[] = {
    { IDM_LOCALHOST, "/" },
    { IDM_SUITE_GUIDE, "/docs/suite-guide/" },
    { IDM_APACHE_MANUAL, "/docs/apache2/" },
    { IDM_SERVER_INFO, "/server-info" },
    { IDM_SERVER_STATUS, "/server-status" },
    { IDM_PHP_INFO, "/phpinfo.php" },
    { IDM_PERL_STATUS, "/perl-status" }, /* no menu item */
    { IDM_CGI_ENV, "/cgi-bin/printenv.pl" },
    { IDM_PHPMYADMIN, "/phpmyadmin/" },
};

/* Outside pages: the maker's home page and forum, the sibling site. */
static const UrlCommand OutsidePages[] = {
    { IDM_MAKER_HOME, "http://www.example.com/" },
    { IDM_MAKER_FORUMS, "http://forum.example.com/" },
    { IDM_SIBLING_SITE, "http://www.example.org/" },
};

#define TABLE_ROWS(table) ((int)(sizeof(table) / sizeof((table)[0])))

static ShellExecuteFunction ShellLaunch = ShellExecuteA;

void SetShellExecuteFunction(ShellExecuteFunction function)
{
    ShellLaunch = function != NULL ? function : ShellExecuteA;
}

static const UrlCommand *FindUrlCommand(const UrlCommand *table, int rows, int id)
{
    int i;

    for (i = 0; i < rows; i++) {
        if (table[i].id == id) {
            return &table[i];
        }
    }
    return NULL;
}

static INT_PTR OpenInNotepad(int id)
{
    char file[MENU_TEXT_SIZE];
    char directory[MENU_TEXT_SIZE];
    int i;

    memset(file, 0, sizeof(file));
    memset(directory, 0, sizeof(directory));
    for (i = 0; i < TABLE_ROWS(NotepadCommands); i++) {
        if (NotepadCommands[i].id == id) {
            break;
        }
    }
    if (i == TABLE_ROWS(NotepadCommands)) {
        return NO_LAUNCH_RESULT;
    }
    /* A directory cut to fit would open Notepad in another directory. */
    if (!CopyBoundedText(file, sizeof(file), NotepadCommands[i].lpFile, 0) ||
        !CopyBoundedText(directory, sizeof(directory), NotepadCommands[i].lpDirectory, 0)) {
        return LAUNCH_TOO_LONG;
    }
    return (INT_PTR)ShellLaunch(NULL, "open", "notepad.exe", file, directory, SW_SHOWNORMAL);
}

static INT_PTR OpenInBrowser(int id)
{
    char base[MENU_TEXT_SIZE];
    char path[MENU_TEXT_SIZE];
    char url[MENU_TEXT_SIZE];
    const UrlCommand *page;

    memset(base, 0, sizeof(base));
    memset(path, 0, sizeof(path));
    memset(url, 0, sizeof(url));
    BuildLocalBaseUrl(base);
    page = FindUrlCommand(LocalPages, TABLE_ROWS(LocalPages), id);
    if (page != NULL) {
        CopyBoundedText(path, sizeof(path), page->lpText, 0);
    } else {
        page = FindUrlCommand(OutsidePages, TABLE_ROWS(OutsidePages), id);
        if (page == NULL) {
            return NO_LAUNCH_RESULT;
        }
        CopyBoundedText(base, sizeof(base), page->lpText, 0);
    }
    /* The base holds at most 28 characters and the longest path 20. */
    CopyBoundedText(url, sizeof(url), base, 0);
    AppendBoundedText(url, sizeof(url), path, 0);
    return (INT_PTR)ShellLaunch(NULL, "open", url, NULL, NULL, SW_SHOWNORMAL);
}

static INT_PTR StartSystemTool(int id)
{
    char parameters[COMMAND_LINE_SIZE];
    int fits;

    memset(parameters, 0, sizeof(parameters));
    /* The www root is a drive root and "www": at most 6 characters. */
    CopyBoundedText(parameters, sizeof(parameters), COMMAND_PROMPT_PREFIX, 0);
    fits = AppendBoundedText(parameters, sizeof(parameters), SuitePaths.WwwRootPath, 0);
    if (id == IDM_COMMAND_PROMPT) {
        if (!fits) {
            return LAUNCH_TOO_LONG;
        }
        return (INT_PTR)ShellLaunch(NULL, "open", "cmd.exe", parameters, NULL, SW_SHOWNORMAL);
    }
    if (id == IDM_SERVICES_CONSOLE) {
        return (INT_PTR)ShellLaunch(NULL, "open", "services.msc", "/s", NULL, SW_SHOWNORMAL);
    }
    return NO_LAUNCH_RESULT;
}

static void RequeryAll(HWND hDlg)
{
    KillAllPollTimers(hDlg);
    ServiceTableClose();
    ServiceTableOpen();
    ShowAllPanels(hDlg);
}

int RunMenuCommand(HWND hDlg, int id)
{
    INT_PTR launchResult = NO_LAUNCH_RESULT;

    if (id >= IDM_NOTEPAD_FIRST && id <= IDM_NOTEPAD_LAST) {
        launchResult = OpenInNotepad(id);
    } else if (id >= IDM_URL_FIRST && id <= IDM_URL_LAST) {
        launchResult = OpenInBrowser(id);
    } else if (id >= IDM_TOOL_FIRST && id <= IDM_TOOL_LAST) {
        launchResult = StartSystemTool(id);
    }
    if ((int)launchResult <= SHELL_FAILURE_LIMIT) {
        ControllerLogAppend("\nShellExecute (%d) failed (%d).\n", id,
                            launchResult == LAUNCH_TOO_LONG ? (int)ERROR_FILENAME_EXCED_RANGE
                                                            : (int)launchResult);
        return 0;
    }
    if (id == IDM_REQUERY_ALL) {
        RequeryAll(hDlg);
        return 1;
    }
    if (id == IDM_ABOUT) {
        MessageBoxA(hDlg, ABOUT_TEXT, ABOUT_CAPTION, MB_OK);
        return 1;
    }
    if (id == IDM_EXIT) {
        SendMessageA(hDlg, WM_CLOSE, 0, 0);
        return 1;
    }
    return 1;
}
