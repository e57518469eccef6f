/* Resource, control, menu and timer ids of the Quorvex Controller.
   Included by the resource script and by the code, so that every id is
   written once. */
#ifndef QUORVEX_RESOURCE_H
#define QUORVEX_RESOURCE_H

/* Resources */
#define IDR_MAINMENU        100
#define IDD_CONTROLLER      101
#define IDI_CONTROLLER      102
#define IDI_SERVICE_RUNNING 103
#define IDI_SERVICE_STOPPED 104

/* Service buttons */
#define IDC_START_SERVICE   10001
#define IDC_STOP_SERVICE    10002
#define IDC_DISABLE_STARTUP 10003
#define IDC_ENABLE_STARTUP  10004

/* Service lists */
#define IDC_SERVICES_LIST     10101
#define IDC_STATUS_LIST       10102
#define IDC_STARTUP_TYPE_LIST 10103

/* Extended service information */
#define IDC_DESCRIPTION 10201
#define IDC_BINARY_PATH 10202
#define IDC_PROCESS_ID  10203
#define IDC_IP_AND_PORT 10204

/* System information */
#define IDC_IP_ADDRESS  10301
#define IDC_NET_VERSION 10302
#define IDC_JDK_VERSION 10303
#define IDC_OS_VERSION  10304

/* Loaded module lists */
#define IDC_SUITE_MODULES  11001
#define IDC_PHP_EXTENSIONS 11002
#define IDC_APACHE_MODULES 11003

/* Menu commands */
#define IDM_FIRST             9000
#define IDM_LAST              9999
#define IDM_EXIT              9003
#define IDM_ACCESS_LOG        9101
#define IDM_ERROR_LOG         9102
#define IDM_HTTPD_CONF        9111
#define IDM_HTTPD_SSL_CONF    9112
#define IDM_SUITE_CUSTOM_CONF 9113
#define IDM_HTTPD_VHOSTS_CONF 9114
#define IDM_MY_INI            9121
#define IDM_PHP_INI           9122
#define IDM_HOSTS_FILE        9131
#define IDM_LOCALHOST         9201
#define IDM_SUITE_GUIDE       9202
#define IDM_APACHE_MANUAL     9203
#define IDM_SERVER_INFO       9211
#define IDM_SERVER_STATUS     9212
#define IDM_PHP_INFO          9213
#define IDM_PERL_STATUS       9214
#define IDM_CGI_ENV           9215
#define IDM_MAKER_HOME        9221
#define IDM_MAKER_FORUMS      9222
#define IDM_SIBLING_SITE      9223
#define IDM_PHPMYADMIN        9231
#define IDM_COMMAND_PROMPT    9301
#define IDM_SERVICES_CONSOLE  9302
#define IDM_ABOUT             9401
#define IDM_REQUERY_ALL       9501

/* Poll timers: base id plus ServiceIndex */
#define IDT_STOP_POLL_BASE  7100
#define IDT_START_POLL_BASE 7200

#endif
