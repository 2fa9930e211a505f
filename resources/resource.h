#pragma once

// Shared by the resource script and the code.
#define IDR_TRAYMENU 100

#define IDM_CHECK 101
#define IDM_EXIT 102
#define IDM_LIST 103
#define IDM_NOSTART 104
#define IDM_START 105
#define IDM_STARTONCE 106
#define IDM_HELP 107
#define IDM_REMOVED 108
#define IDM_AUTORUN 109
