#include "DialogTemplates.h"

#include "Resources.h"
#include "WinTypes.h"

namespace {

using K = ControlKind;
constexpr int NO_ID = -1;

const DialogTemplate kAbout = {
    IDD_ABOUTBOX,
    "About Bumple",
    34,
    22,
    257,
    167,
    {
        {IDOK, K::DefPushButton, "OK", CS_TABSTOP | CS_GROUP, 181, 132, 39, 14},
        {NO_ID, K::Icon, "Bumple", CS_NONE, 145, 130, 20, 20},
        {NO_ID, K::Label, "Bumple Version " BUMPLE_VERSION, CS_CENTER, 145, 15, 70, 8},
        {NO_ID, K::Label, "Free for private use", CS_CENTER, 135, 25, 90, 8},
        {NO_ID, K::GroupBox, "What Bumple Does", CS_NONE, 5, 5, 97, 35},
        {NO_ID, K::Label, "Keeps your ISP connection alive", CS_CENTER, 15, 17, 74, 17},
        {NO_ID, K::GroupBox, "Legal", CS_NONE, 5, 45, 97, 45},
        {NO_ID, K::Label, "Copyright (C) 2001\nQuellmoor Software", CS_CENTER, 9, 57, 84, 24},
        {NO_ID, K::Label, "Written by\nMara Quellmoor\nfor everyone\nwho still dials\nin from home",
         CS_CENTER, 145, 36, 72, 39},
        {NO_ID, K::GroupBox, "Your Current IP Address", CS_NONE, 5, 95, 97, 30},
        {IDC_ADDRESS, K::Label, "ip", CS_CENTER, 15, 109, 74, 10},
        {NO_ID, K::GroupBox, "Time Since Launch", CS_NONE, 5, 130, 97, 30},
        {IDC_UPTIME, K::Label, "ip", CS_CENTER, 15, 144, 74, 10},
        {IDC_EMAIL_LINK, K::Label, "mara@quellmoor.example", CS_CENTER, 135, 90, 90, 10},
        {IDC_WEB_LINK, K::Label, "http://quellmoor.example/", CS_CENTER, 120, 110, 120, 10},
        {NO_ID, K::GroupBox, "Fun Facts", CS_NONE, 110, 5, 140, 155},
    },
};

const DialogTemplate kForm = {
    IDD_BUMPLE_FORM,
    nullptr,
    0,
    0,
    146,
    141,
    {
        {IDC_RETURN_TO_TRAY, K::DefPushButton, "Return To Tray", CS_TABSTOP, 75, 115, 60, 15},
        {IDC_PERIOD, K::Edit, "", CS_TABSTOP | CS_RIGHT, 10, 10, 20, 12},
        {IDC_NAME, K::ComboDropDown, "", CS_TABSTOP | CS_VSCROLL, 10, 40, 125, 60},
        {IDC_START, K::PushButton, "Start or Apply Changes", CS_TABSTOP | CS_DISABLED, 10, 95, 125,
         15},
        {IDC_SHUTDOWN, K::PushButton, "Shutdown Bumple", CS_TABSTOP, 10, 115, 60, 15},
        {NO_ID, K::Label, "Bumple how often? (minutes)", CS_NONE, 33, 11, 90, 10},
        {NO_ID, K::Label, "Domain Name or IP Address", CS_NONE, 10, 30, 120, 8},
        {NO_ID, K::Label, "(Type into box above to add a name)", CS_NONE, 10, 55, 120, 8},
        {NO_ID, K::Label, "Status:", CS_NONE, 10, 70, 25, 8},
        {IDC_STATUS, K::Label, " ", CS_NONE, 35, 70, 100, 8},
        {IDC_NEXT_LABEL, K::Label, "Time until next bumple:", CS_DISABLED, 10, 80, 70, 8},
        {IDC_COUNTDOWN, K::Label, " ", CS_GROUP, 85, 80, 35, 8},
    },
};

const DialogTemplate kOptions = {
    IDD_OPTIONS,
    "Options",
    0,
    0,
    142,
    236,
    {
        {NO_ID, K::GroupBox, "Automatic Function", CS_NONE, 10, 10, 120, 30},
        {IDC_AUTO_START, K::CheckBox, "Auto-Start", CS_TABSTOP, 20, 25, 60, 10},
        {NO_ID, K::GroupBox, "Randomized Functions", CS_NONE, 10, 50, 120, 50},
        {IDC_RANDOM_NAME, K::CheckBox, "Randomize Domain Name", CS_TABSTOP, 20, 65, 100, 10},
        {IDC_RANDOM_TIME, K::CheckBox, "Randomize Bumple Time", CS_TABSTOP, 20, 80, 100, 10},
        {NO_ID, K::GroupBox, "Retry Function", CS_NONE, 10, 105, 120, 30},
        {IDC_IGNORE_FAILURES, K::CheckBox, "Ignore Connection Failures", CS_TABSTOP, 20, 120, 100,
         10},
        {NO_ID, K::GroupBox, "Idle Function", CS_NONE, 10, 140, 120, 30},
        {IDC_IDLE_ONLY, K::CheckBox, "Bumple Only When Idle", CS_TABSTOP, 20, 155, 100, 10},
        {NO_ID, K::GroupBox, "Notify Function", CS_NONE, 10, 175, 120, 30},
        {IDC_NOTIFY, K::CheckBox, "Notify When Link Goes Down", CS_TABSTOP, 20, 190, 100, 10},
        {IDOK, K::DefPushButton, "OK", CS_TABSTOP, 10, 215, 50, 14},
        {IDCANCEL, K::PushButton, "Cancel", CS_TABSTOP, 80, 215, 50, 14},
    },
};

const DialogTemplate kEditNames = {
    IDD_EDIT_NAMES,
    "Edit Names",
    0,
    0,
    197,
    106,
    {
        {NO_ID, K::Label, "Click and Drag names if you wish to re-order them.", CS_NONE, 5, 5, 175,
         10},
        {IDC_NAME_LIST, K::ListBox, "", CS_TABSTOP | CS_VSCROLL | CS_NOTIFY, 5, 20, 105, 75},
        {IDC_DELETE_SELECTION, K::PushButton, "Delete Selection", CS_TABSTOP, 125, 20, 60, 14},
        {IDC_RESTORE_DEFAULT, K::PushButton, "Restore Default", CS_TABSTOP, 125, 40, 60, 14},
        {IDOK, K::DefPushButton, "OK", CS_TABSTOP, 125, 60, 60, 14},
        {IDCANCEL, K::PushButton, "Cancel", CS_TABSTOP, 125, 80, 60, 14},
    },
};

const DialogTemplate kStatistics = {
    IDD_STATISTICS,
    "Statistics Snapshot",
    0,
    0,
    147,
    116,
    {
        {NO_ID, K::Label, "Number of successful Bumples:", CS_RIGHT, 5, 6, 100, 10},
        {IDC_SUCCESSES, K::Label, "Static", CS_RIGHT, 110, 6, 30, 10},
        {NO_ID, K::Label, "Number of HTTP failures:", CS_RIGHT, 5, 20, 100, 10},
        {IDC_HTTP_FAILURES, K::Label, "Static", CS_RIGHT, 110, 20, 30, 10},
        {NO_ID, K::Label, "Number of DNS failures:", CS_RIGHT, 5, 35, 100, 10},
        {IDC_DNS_FAILURES, K::Label, "Static", CS_RIGHT, 110, 35, 30, 10},
        {NO_ID, K::Label, "Number of Socket failures:", CS_RIGHT, 5, 50, 100, 10},
        {IDC_SOCKET_FAILURES, K::Label, "Static", CS_RIGHT, 110, 50, 30, 10},
        {IDC_PROBLEM_LABEL, K::Label, "The last Bumple problem occurred with:", CS_NONE, 5, 65, 135,
         10},
        {IDC_PROBLEM_NAME, K::Label, "", CS_NONE, 15, 80, 125, 10},
        {IDOK, K::DefPushButton, "OK", CS_TABSTOP, 90, 95, 50, 14},
    },
};

} // namespace

const DialogTemplate* LoadDialogTemplate(int id) {
    for (const DialogTemplate* pTemplate : {&kAbout, &kForm, &kOptions, &kEditNames, &kStatistics})
        if (pTemplate->id == id)
            return pTemplate;
    return nullptr;
}
