#pragma once

// Resource, control and command ids shared between the resources and the code.

#include "MenuResource.h"

#include <vector>

class QIcon;

// Icons and cursor
constexpr int IDR_MAINFRAME = 128;
constexpr int IDI_NORMAL = 128;
constexpr int IDI_STOPPED = 130;
constexpr int IDI_WAITING = 131;
constexpr int IDC_HAND_CURSOR = 119;

// Menus
constexpr int IDR_TRAY_MENU = 129;

// Dialog templates
constexpr int IDD_ABOUTBOX = 100;
constexpr int IDD_BUMPLE_FORM = 101;
constexpr int IDD_OPTIONS = 133;
constexpr int IDD_EDIT_NAMES = 134;
constexpr int IDD_STATISTICS = 138;

// Controls of the main form
constexpr int IDC_PERIOD = 1000;
constexpr int IDC_NAME = 1001;
constexpr int IDC_START = 1003;
constexpr int IDC_STATUS = 1004;
constexpr int IDC_RETURN_TO_TRAY = 1005;
constexpr int IDC_NEXT_LABEL = 1006;
constexpr int IDC_COUNTDOWN = 1007;
constexpr int IDC_SHUTDOWN = 1008;

// Controls of the dialogs
constexpr int IDC_NAME_LIST = 1010;
constexpr int IDC_AUTO_START = 1011;
constexpr int IDC_RANDOM_NAME = 1013;
constexpr int IDC_RANDOM_TIME = 1014;
constexpr int IDC_IGNORE_FAILURES = 1015;
constexpr int IDC_IDLE_ONLY = 1016;
constexpr int IDC_NOTIFY = 1017;
constexpr int IDC_SUCCESSES = 1013;
constexpr int IDC_HTTP_FAILURES = 1014;
constexpr int IDC_DNS_FAILURES = 1015;
constexpr int IDC_SOCKET_FAILURES = 1016;
constexpr int IDC_PROBLEM_LABEL = 1018;
constexpr int IDC_PROBLEM_NAME = 1019;
constexpr int IDC_ADDRESS = 1012;
constexpr int IDC_UPTIME = 1013;
constexpr int IDC_EMAIL_LINK = 1022;
constexpr int IDC_WEB_LINK = 1023;
constexpr int IDC_RESTORE_DEFAULT = 3;
constexpr int IDC_DELETE_SELECTION = 4;

// Commands
constexpr int ID_EDIT_NAMES = 32771;
constexpr int ID_OPTIONS = 32772;
constexpr int ID_RESTORE = 32773;
constexpr int ID_EXIT = 32774;
constexpr int ID_STATISTICS = 32775;
constexpr int ID_HISTORY = 32776;
constexpr int ID_APP_ABOUT = 57664;
constexpr int ID_HELP_FINDER = 57667;
constexpr int ID_CONTEXT_HELP = 57669;
constexpr int ID_HELP = 57670;
constexpr int ID_DEFAULT_HELP = 57671;

// Strings
constexpr int IDS_APP_TITLE = 57344;
constexpr const char* kAppTitle = "Bumple";

// The popups of menu 128 (the menu bar) or 129 (the tray menu); null for another id.
const std::vector<MenuResource>* LoadMenuResource(int id);

// The text of string resource 57344; null for another id.
const char* LoadStringResource(int id);

// The icon of resource 128, 130 or 131, loaded once for the life of the process;
// null for another id. The built-in image, until LoadThemeIcons.
const QIcon* LoadIconResource(int id);
// Puts the desktop icon theme's images, where it has them, in place of the built-in ones,
// behind the same handles, so that a theme may restyle the icons. Reading the theme is
// most of a start-up's work, so it comes once the icon is in the tray. True when any
// image changed: the users of the handles draw them anew.
bool LoadThemeIcons();
