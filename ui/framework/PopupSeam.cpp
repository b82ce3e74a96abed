#include "ui/framework/PopupSeam.h"

TrackPopupMenuFn g_trackPopupMenu = &::TrackPopupMenu;
MessageBoxFn g_messageBox = &::MessageBoxW;
