// Resource, command, control and window ids of keltracer.
// Included by C++ and by the .rc files alike, so it holds nothing but
// #defines. Ids whose numbers must stay fixed (toolbar tips looked up by
// command id, status panes sized by their string) share one number on
// purpose; the comments say where.
#ifndef KT_RES_RESOURCE_H
#define KT_RES_RESOURCE_H

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif

// ---- Resources of the main frame ------------------------------------------
// Menu bar, accelerator table, toolbar, toolbar bitmap and icon all use 128.
#define IDR_MAINFRAME                   128

#define IDR_DEFAULT_INI                 201     // FILE: default keltracer.ini text
#define IDR_EVENT_XML                   249     // XML: event-description document
#define IDR_MODULE_GROUPS               253     // FILE: module-group table

#define IDR_ADD_TAB_MENU                239     // sub-menu 0: add-tab menu
#define IDR_FILE_MENU                   240     // file drop-down of the toolbar
#define IDR_TOOLS_MENU                  241     // tools drop-down; its first sub-menu is the list's context menu
#define IDR_STATUS_MENU                 244     // sub-menu 0: process menu, sub-menu 1: level menu

#define IDB_STATUS_ITEMS                243     // status-bar item images
#define IDB_DRAG                        252     // drag image list
#define IDB_TABS                        254     // tab images of both strips

// ---- Dialogs ---------------------------------------------------------------
#define IDD_ABOUTBOX                    100
#define IDD_OPTIONS                     236
#define IDD_FILTER                      237
#define IDD_ADD_TAB                     245
#define IDD_DETAIL                      246
#define IDD_HISTORY                     248
#define IDD_GOTO                        250
#define IDD_REMOTE_FILE                 251
#define IDD_SELECT_MODULE               255
#define IDD_SELECT_COLUMNS              256
#define IDD_SEND_TO_TALMO               257
#define IDD_EDIT_CONDITION              258
#define IDD_DUMP_FILE                   259
#define IDD_REMOTE_SERVER               260     // top-level window of remote-server mode
#define IDD_BASE64_CONVERT              261
#define IDD_SOCK_CONNECT                262
#define IDD_SAVE_TEMPLATE               263     // child template of the save dialog
#define IDD_ERROR_LOOKUP                264
#define IDD_STATISTIC                   267

// ---- String table ----------------------------------------------------------
#define IDS_APP_CAPTION                 128
#define IDS_TIP_NEXT_PII                5945
#define IDS_QUICK_FILTER_HINT           32775   // same number as the quick-filter edit
#define IDS_IDLE_MESSAGE                57345   // status-bar start text; deliberately not in the table
#define IDS_LOAD_CONFIG_FAILED          61415
#define IDS_COLUMN_NUMBER               61416
#define IDS_COLUMN_TIME                 61417
#define IDS_COLUMN_MODULE               61418
#define IDS_COLUMN_NAME                 61419
#define IDS_COLUMN_HINT                 61420
#define IDS_COLUMN_PID                  61421
#define IDS_COLUMN_DELTA                61422
#define IDS_COLUMN_TID                  61423
#define IDS_COLUMN_MESSAGE              61424
#define IDS_JOB_OPENING                 61426
#define IDS_JOB_SAVING                  61427
#define IDS_JOB_SEARCHING               61429
#define IDS_JOB_SAVING_VIEW             61430
#define IDS_CANNOT_FIND_STRING          61432
#define IDS_UNKNOWN_GROUP               61433
#define IDS_ALL_VIEW                    61434
#define IDS_TIP_CLOSE_TAB               61440
#define IDS_TIP_SCROLL_LEFT             61441
#define IDS_TIP_SCROLL_RIGHT            61442
#define IDS_TIP_TAB_LIST                61443
#define IDS_TIP_ADD_TAB                 61444
#define IDS_TIP_CLOSE_ALL_TABS          61445
#define IDS_CONFIRM_CLOSE_FILE          61447
#define IDS_CAPTURE_NAME                61448
#define IDS_APP_INIT_FAILED             61449
#define IDS_ADD_TAB_CAPTION             61451
#define IDS_FILTER_CAPTION              61452
#define IDS_START_CAPTURE_THREAD_FAILED 61453
#define IDS_MENU_START_CAPTURE          61454
#define IDS_MENU_STOP_CAPTURE           61455
#define IDS_EXPORT_TEXT_HEADER          61456
#define IDS_EXPORT_HTML_HEADER          61457
#define IDS_EXPORT_HTML_FOOTER          61458
#define IDS_EXPORT_TEXT_LINE            61459
#define IDS_EXPORT_HTML_ROW             61460
#define IDS_ADD_TAB_GROUP_FAILED        61461
#define IDS_ADD_TAB_FAILED              61462
#define IDS_TITLE_STOPPED               61463
#define IDS_START_HVN_FAILED            61464
#define IDS_START_QRC_FAILED            61465
#define IDS_START_QRV_FAILED            61466
#define IDS_START_CAPTURE_FAILED        61469
#define IDS_CONFIRM_LONG_COPY           61470
#define IDS_WININET_INIT_FAILED         61471
#define IDS_TIP_EDIT_FILTER             61475
#define IDS_TIP_FILTER_PID              61476
#define IDS_TIP_FILTER_LEVEL            61477
#define IDS_TIP_NEXT_DEBUG              61478
#define IDS_TIP_NEXT_INFO               61479
#define IDS_TIP_NEXT_WARNING            61480
#define IDS_TIP_NEXT_ERROR              61481
#define IDS_JOB_SENDING                 61483
#define IDS_JOB_SENDING_VIEW            61484
#define IDS_JOB_PREPARE_SENDING         61485
#define IDS_JOB_PREPARE_SENDING_VIEW    61486
#define IDS_JOB_REMOTE_LIST             61487
#define IDS_JOB_REMOTE_GET              61488
#define IDS_SEND_OK                     61500
#define IDS_SEND_COMPLETED              61501
#define IDS_SEND_FAILED                 61502
#define IDS_SEND_ERR_INVALID_LOG        61503
#define IDS_SEND_ERR_OUT_OF_MEMORY      61504
#define IDS_SEND_ERR_SERVER_BUSY        61505
#define IDS_SEND_ERR_TIMEOUT            61506
#define IDS_SEND_ERR_CERTIFICATE        61507
#define IDS_SEND_ERR_PROXY_AUTH         61508
#define IDS_SEND_ERR_HTTP               61509
#define IDS_SEND_ERR_WIN32              61510
#define IDS_SEND_ERR_INTERNET           61511
#define IDS_SEND_STEP_FAILED            61512
#define IDS_SEND_STEP_FAILED_CODE       61513
#define IDS_SEND_STEP_PREPARE           61514
#define IDS_SEND_STEP_CONNECT           61515
#define IDS_SEND_STEP_SEND              61516
#define IDS_SEND_ERR_CANCELLED          61517
#define IDS_SEND_CANCELLED              61518
#define IDS_SEND_CANCELLING             61519
#define IDS_JOB_SAVING_DUMP             61520
#define IDS_BACKUP_CREATE_FAILED        61521
#define IDS_BACKUP_WRITE_FAILED         61522
#define IDS_REMOTE_SERVER_CAPTION       61523
#define IDS_WINSOCK_INIT_FAILED         61524
#define IDS_LISTEN_CREATE_FAILED        61525
#define IDS_LISTEN_LOST                 61526
#define IDS_CONNECT_LOST                61527
#define IDS_CONNECT_FAILED              61528
#define IDS_JOB_SAVING_REMOTE_DUMP      61529
// Notices of the capture that have no text above: a block of ids of their
// own (res/notices.rc), well apart from the table's.
#define IDS_CAPTURE_STOPPED             61600
#define IDS_RECORDS_LOST                61601
#define IDS_CHANNEL_FAILED              61602
// Texts of the frame's commands (res/commands.rc); a string block of
// sixteen ids of their own, since two files may not share one.
#define IDS_PATH_TOO_LONG               61616
#define IDS_INVALID_PATTERN             61617

// ---- Toolbar 128 -------------------------------------------------------------
// A button's tool tip is the string with the button's command id.
#define ID_VIEW_STRIP                   32772   // placeholder button; also the view strip's control id
#define ID_FILE_DROPDOWN                32773   // opens IDR_FILE_MENU
#define ID_TOOLS_DROPDOWN               32774   // opens IDR_TOOLS_MENU
#define ID_QUICK_FILTER_EDIT            32775   // placeholder button; also the quick-filter edit's control id
#define ID_QUICK_FILTER                 32776   // button; also sent by the edit on Enter

// ---- Commands: files -----------------------------------------------------------
#define ID_FILE_OPEN                    57601
#define ID_FILE_SAVE                    57603
#define ID_FILE_SAVE_VIEW               33106
#define ID_FILE_SAVE_DUMP               33109
#define ID_FILE_OPEN_REMOTE             33051
#define ID_FILE_HISTORY_MANAGE          33060
#define ID_FILE_HISTORY_NONE            0       // greyed placeholder of an empty history list
#define ID_FILE_HISTORY_FIRST           33061   // history entry i is ID_FILE_HISTORY_FIRST + i
#define ID_FILE_HISTORY_LAST            33099
#define ID_APP_EXIT                     57665
#define ID_APP_ABOUT                    57664

// ---- Commands: view -------------------------------------------------------------
#define ID_EDIT_COPY                    57634
#define ID_EDIT_COPY_MESSAGE            33105
#define ID_EDIT_SELECT_ALL              57642
#define ID_EDIT_FIND                    57636
#define ID_EDIT_FIND_NEXT               33020
#define ID_EDIT_FIND_PREV               33021
#define ID_VIEW_CLEAR_DISPLAY           57633
#define ID_VIEW_AUTO_SCROLL             33054
#define ID_VIEW_ALWAYS_ON_TOP           33107
#define ID_VIEW_SELECT_COLUMNS          33108
#define ID_VIEW_GOTO                    33100
#define ID_VIEW_FILTER                  33019
#define ID_VIEW_OPTIONS                 33016

#define ID_BOOKMARK_TOGGLE              33101
#define ID_BOOKMARK_NEXT                33102
#define ID_BOOKMARK_PREV                33103
#define ID_BOOKMARK_CLEAR               33104
// Colour index = id - ID_BOOKMARK_GRAY.
#define ID_BOOKMARK_GRAY                33115
#define ID_BOOKMARK_RED                 33116
#define ID_BOOKMARK_PINK                33117
#define ID_BOOKMARK_YELLOW              33118
#define ID_BOOKMARK_GREEN               33119
#define ID_BOOKMARK_BLUE                33120
#define ID_BOOKMARK_PURPLE              33121

// ---- Commands: tools ------------------------------------------------------------
#define ID_TOOLS_CAPTURE                33022   // Start/Stop Capture
#define ID_TOOLS_SEND                   33052
#define ID_TOOLS_SEND_VIEW              33053
#define ID_TOOLS_BASE64                 33110
#define ID_TOOLS_CONNECT                33111
#define ID_TOOLS_DISCONNECT             33112
#define ID_TOOLS_ERROR_LOOKUP           33113
#define ID_TOOLS_STATISTIC              33114

// ---- Level menu (IDR_STATUS_MENU sub-menu 1) ---------------------------------------
#define ID_LEVEL_ERROR                  33023
#define ID_LEVEL_WARN_ERROR             33024
#define ID_LEVEL_INFO_WARN_ERROR        33025
#define ID_LEVEL_DEBUG                  57858
#define ID_LEVEL_ALL                    33028
#define ID_LEVEL_BOOKMARK               33129
#define ID_LEVEL_BOOKMARK_GRAY          33122
#define ID_LEVEL_BOOKMARK_RED           33123
#define ID_LEVEL_BOOKMARK_PINK          33124
#define ID_LEVEL_BOOKMARK_YELLOW        33125
#define ID_LEVEL_BOOKMARK_GREEN         33126
#define ID_LEVEL_BOOKMARK_BLUE          33127
#define ID_LEVEL_BOOKMARK_PURPLE        33128
#define ID_LEVEL_PII                    33132

// ---- Process menu (IDR_STATUS_MENU sub-menu 0) -------------------------------------
#define ID_PID_ALL                      33029
#define ID_PID_FIRST                    33030   // process k is ID_PID_FIRST + k
#define ID_PID_LAST                     33045

// ---- Add-tab menu (IDR_ADD_TAB_MENU sub-menu 0) ------------------------------------
#define ID_ADD_TAB_CUSTOM               32778
#define ID_ADD_TAB_GROUP_FIRST          32780   // module group g is ID_ADD_TAB_GROUP_FIRST + g
#define ID_ADD_TAB_GROUP_LAST           32811

// ---- Tab-list menu of either tab strip -----------------------------------------------
#define ID_TAB_LIST_FIRST               32820   // tab i is ID_TAB_LIST_FIRST + i
#define ID_TAB_LIST_LAST                32947

// ---- Column menu of the list header -------------------------------------------------
// A column's bit is 1 << (id - ID_COLUMN_BASE).
#define ID_COLUMN_BASE                  33000
#define ID_COLUMN_TIME                  33001
#define ID_COLUMN_MODULE                33002
#define ID_COLUMN_NAME                  33003
#define ID_COLUMN_HINT                  33004
#define ID_COLUMN_PID                   33005
#define ID_COLUMN_DELTA                 33006
#define ID_COLUMN_TID                   33007
#define ID_COLUMN_LAST                  33015   // highest id still taken as a column choice

// ---- Windows, panes and timers of the main frame ------------------------------------
#define IDC_LIST_HEADER                 0       // header control of the trace list
#define IDC_TRACE_LIST                  220
#define IDC_TOOLTIP                     221
#define IDC_STATUS_NOTIFY               222     // notify id of the status bar
#define IDC_DOCUMENT_TABS               223
#define IDW_TOOLBAR                     59392
#define IDW_STATUS_BAR                  59393
#define ID_TIMER_TOOLTIP_HOVER          10
#define ID_TIMER_REFRESH                225

// Status-bar panes; the string with a pane's id sizes that pane.
#define ID_DEFAULT_PANE                 0
#define ID_PANE_PROGRESS                61401
#define ID_PANE_ITEMS                   61402

// ---- Controls: About (IDD_ABOUTBOX) ---------------------------------------------------
#define IDC_ABOUT_VERSION               1008

// ---- Controls: Options (IDD_OPTIONS) --------------------------------------------------
#define IDC_OPT_TAB_DBCLOSE             1001
#define IDC_OPT_AUTO_SCROLL             1002
#define IDC_OPT_GRID_LINES              1003
#define IDC_OPT_FONT                    1004
#define IDC_OPT_FONT_NAME               1005
#define IDC_OPT_TAB_BACKGROUND          1006
#define IDC_OPT_TAB_SYNC_TIME           1007
#define IDC_OPT_MAX_MEM_SPIN            1017
#define IDC_OPT_MAX_MEM                 1018
#define IDC_OPT_HVN                     1044
#define IDC_OPT_QRC                     1045
#define IDC_OPT_QRC_LOG                 1046
#define IDC_OPT_QRV                     1047
#define IDC_OPT_TRACE_RANGE             1055
#define IDC_OPT_RESTORE_DEFAULT         1060
#define IDC_OPT_IGNORE                  1074
#define IDC_OPT_SELECT_MODULES          1075
#define IDC_OPT_ALWAYS_ON_TOP           1080
#define IDC_OPT_DBWIN                   1089
#define IDC_OPT_SHOW_MENU               1090
#define IDC_OPT_BACKUP                  1112
#define IDC_OPT_BACKUP_FOLDER           1113
#define IDC_OPT_BACKUP_BROWSE           1114
#define IDC_OPT_BACKUP_UNLIMITED        1115
#define IDC_OPT_BACKUP_LIMIT            1116
#define IDC_OPT_BACKUP_SIZE             1117
#define IDC_OPT_BACKUP_SIZE_SPIN        1119
#define IDC_OPT_SORT                    1126

// ---- Controls: Filter (IDD_FILTER) ----------------------------------------------------
#define IDC_FILTER_DEBUG                1010
#define IDC_FILTER_INFO                 1011
#define IDC_FILTER_WARNING              1012
#define IDC_FILTER_ERROR                1013
#define IDC_FILTER_PII                  1014    // not in the template: GetDlgItem gives null
#define IDC_FILTER_BOOKMARK             1015
#define IDC_FILTER_LEVEL                1016
#define IDC_FILTER_PID_LIST             1031
#define IDC_FILTER_PID                  1032
#define IDC_FILTER_RESET                1042
#define IDC_FILTER_CONDITIONS           1100
#define IDC_FILTER_ADD_CONDITION        1101
#define IDC_FILTER_EDIT_CONDITION       1102
#define IDC_FILTER_DELETE_CONDITION     1103

// ---- Controls: Add Tab (IDD_ADD_TAB) --------------------------------------------------
#define IDC_ADD_TAB_LIST                1019
#define IDC_ADD_TAB_PID                 1063
#define IDC_ADD_TAB_SELECT_ALL          1064

// ---- Controls: Detail (IDD_DETAIL) ----------------------------------------------------
#define IDC_DETAIL_NUMBER               1020
#define IDC_DETAIL_TIME                 1021
#define IDC_DETAIL_MODULE               1022
#define IDC_DETAIL_PID_TID              1023
#define IDC_DETAIL_NAME                 1024
#define IDC_DETAIL_HINT                 1025
#define IDC_DETAIL_MESSAGE              1026
#define IDC_DETAIL_LEVEL                1027
#define IDC_DETAIL_COPY_CLOSE           1053
#define IDC_DETAIL_TABS                 1091

// ---- Controls: Histroy Files Manager (IDD_HISTORY) -----------------------------------
#define IDC_HISTORY_LIST                1043
#define IDC_HISTORY_PATH                1052
#define IDC_HISTORY_DELETE              1059

// ---- Controls: Goto (IDD_GOTO) ----------------------------------------------------------
#define IDC_GOTO_LINE                   1056
#define IDC_GOTO_SPIN                   1058

// ---- Controls: Remote File (IDD_REMOTE_FILE) -------------------------------------------
#define IDC_REMOTE_SERVER               1062
#define IDC_REMOTE_HISTORY              1065
#define IDC_REMOTE_USER                 1066
#define IDC_REMOTE_PASSWORD             1067
#define IDC_REMOTE_ANONYMOUS            1068
#define IDC_REMOTE_PORT                 1069
#define IDC_REMOTE_PATH                 1070
#define IDC_REMOTE_PROTOCOL             1071
#define IDC_REMOTE_LIST_FILES           1072
#define IDC_REMOTE_FILES                1073

// ---- Controls: Select Module (IDD_SELECT_MODULE) ---------------------------------------
#define IDC_SELMOD_LIST                 1078
#define IDC_SELMOD_UNCHECK_ALL          1079

// ---- Controls: Select Columns (IDD_SELECT_COLUMNS) -------------------------------------
#define IDC_COLUMNS_AVAILABLE           1081
#define IDC_COLUMNS_CURRENT             1082
#define IDC_COLUMNS_ADD                 1083
#define IDC_COLUMNS_REMOVE              1084
#define IDC_COLUMNS_UP                  1085
#define IDC_COLUMNS_DOWN                1086
#define IDC_COLUMNS_RESET               1087

// ---- Controls: Send to talmo (IDD_SEND_TO_TALMO) ---------------------------------------
#define IDC_SEND_STEP1                  1092
#define IDC_SEND_STEP2                  1093
#define IDC_SEND_STEP3                  1094
#define IDC_SEND_RESULT                 1095
#define IDC_SEND_MARK1                  1096    // step indicators, one per line above
#define IDC_SEND_MARK2                  1097
#define IDC_SEND_MARK3                  1098
#define IDC_SEND_MARK4                  1099

// ---- Controls: Edit Condition (IDD_EDIT_CONDITION) -------------------------------------
#define IDC_COND_FIELD                  1104
#define IDC_COND_OPERATOR               1105
#define IDC_COND_TEXT                   1106
#define IDC_COND_CONNECTOR              1107
#define IDC_COND_MATCH_CASE             1108

// ---- Controls: Select Dump File (IDD_DUMP_FILE) ----------------------------------------
#define IDC_DUMP_LIST                   1110
#define IDC_DUMP_PATH                   1111

// ---- Controls: remote-server window (IDD_REMOTE_SERVER) --------------------------------
#define IDC_SERVER_STATUS               1120

// ---- Controls: Base64 Convert (IDD_BASE64_CONVERT) -------------------------------------
#define IDC_BASE64_TEXT                 1121
#define IDC_BASE64_TYPE                 1122
#define IDC_BASE64_ENCODE               1123
#define IDC_BASE64_DECODE               1124

// ---- Controls: Connect to (IDD_SOCK_CONNECT) -------------------------------------------
#define IDC_CONNECT_ADDRESS             1125

// ---- Controls: save-dialog template (IDD_SAVE_TEMPLATE) --------------------------------
#define IDC_SAVE_PLACEHOLDER            1119    // where the system's controls go
#define IDC_SAVE_DUMP_FILES             1127

// ---- Controls: Error Lookup (IDD_ERROR_LOOKUP) -----------------------------------------
#define IDC_ERROR_CODE                  1128
#define IDC_ERROR_TEXT                  1129

// ---- Controls: Stastistic (IDD_STATISTIC) ----------------------------------------------
#define IDC_STAT_ANALYZE                1130
#define IDC_STAT_KEY                    1132
#define IDC_STAT_PROGRESS               1135
#define IDC_STAT_TOP                    1136
#define IDC_STAT_STATUS                 1137
#define IDC_STAT_LIST                   1138
#define IDC_STAT_TOTAL                  1139
#define IDC_STAT_ROWS                   1140
#define IDC_STAT_DETAIL                 1141

#endif // KT_RES_RESOURCE_H
