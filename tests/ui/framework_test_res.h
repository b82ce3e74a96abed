// Resource ids of the window-framework tests (framework_test.rc). They stay
// clear of the program's ids in res/resource.h, since both sets of resources
// are linked into ui_tests.
#ifndef KT_TESTS_UI_FRAMEWORK_TEST_RES_H
#define KT_TESTS_UI_FRAMEWORK_TEST_RES_H

#define IDR_TEST_FRAME      9100  // title string, menu and accelerators of the test frame
#define IDR_TEST_TOOLBAR    9101  // toolbar and its bitmap
#define IDS_TEST_PANE_A     9102  // status pane sized by four spaces
#define IDS_TEST_PANE_B     9103  // status pane sized by a longer text

#define ID_TEST_EXIT        9110
#define ID_TEST_REFRESH     9111  // F5 in the test frame's accelerators

#define ID_TEST_BUTTON1     9120
#define ID_TEST_BUTTON2     9121
#define ID_TEST_BUTTON3     9122

#endif
