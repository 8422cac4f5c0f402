// Task dialog constants with the platform's values, usable on every platform
// (the dialog layer off Windows speaks the same codes). Names carry a trailing
// underscore where windows.h defines the same name as a macro; the TDF_,
// TDCBF_, TDN_, TDM_, TDE_ and TDIE_ names are enumerators there, which these
// constants in namespace qv simply hide.
#pragma once
#include <cstdint>

namespace qv {

// Platform flags (dwFlags).
constexpr uint32_t TDF_ENABLE_HYPERLINKS = 0x0001;
constexpr uint32_t TDF_USE_HICON_MAIN = 0x0002;
constexpr uint32_t TDF_USE_HICON_FOOTER = 0x0004;
constexpr uint32_t TDF_ALLOW_DIALOG_CANCELLATION = 0x0008;
constexpr uint32_t TDF_USE_COMMAND_LINKS = 0x0010;
constexpr uint32_t TDF_USE_COMMAND_LINKS_NO_ICON = 0x0020;
constexpr uint32_t TDF_EXPAND_FOOTER_AREA = 0x0040;
constexpr uint32_t TDF_EXPANDED_BY_DEFAULT = 0x0080;
constexpr uint32_t TDF_VERIFICATION_FLAG_CHECKED = 0x0100;
constexpr uint32_t TDF_SHOW_PROGRESS_BAR = 0x0200;
constexpr uint32_t TDF_SHOW_MARQUEE_PROGRESS_BAR = 0x0400;
constexpr uint32_t TDF_CALLBACK_TIMER = 0x0800;
constexpr uint32_t TDF_POSITION_RELATIVE_TO_WINDOW = 0x1000;
constexpr uint32_t TDF_RTL_LAYOUT = 0x2000;
constexpr uint32_t TDF_NO_DEFAULT_RADIO_BUTTON = 0x4000;
constexpr uint32_t TDF_CAN_BE_MINIMIZED = 0x8000;
constexpr uint32_t TDF_SIZE_TO_CONTENT = 0x01000000;

// The component's own options, in bits the platform leaves free.
constexpr uint32_t TDF_X_DATETIME = 0x00080000;
constexpr uint32_t TDF_X_SHELL32_ICONS = 0x00400000;
constexpr uint32_t TDF_X_IMAGERES_ICONS = 0x00800000;
constexpr uint32_t TDF_X_SLIDER = 0x02000000;
constexpr uint32_t TDF_X_INPUT = 0x04000000;
constexpr uint32_t TDF_X_COMBO = 0x08000000;
constexpr uint32_t TDF_X_ICON_AFTER_BUILD = 0x10000000;
constexpr uint32_t TDF_X_OPEN_LINKS = 0x20000000;
constexpr uint32_t TDF_X_SHELL32_BUTTON_ICONS = 0x40000000;
constexpr uint32_t TDF_X_IMAGERES_BUTTON_ICONS = 0x80000000;

// Common buttons (dwCommonButtons) and the ids they report.
constexpr uint32_t TDCBF_OK_BUTTON = 0x01;
constexpr uint32_t TDCBF_YES_BUTTON = 0x02;
constexpr uint32_t TDCBF_NO_BUTTON = 0x04;
constexpr uint32_t TDCBF_CANCEL_BUTTON = 0x08;
constexpr uint32_t TDCBF_RETRY_BUTTON = 0x10;
constexpr uint32_t TDCBF_CLOSE_BUTTON = 0x20;
constexpr int32_t IDOK_ = 1;
constexpr int32_t IDCANCEL_ = 2;
constexpr int32_t IDRETRY_ = 4;
constexpr int32_t IDYES_BUTTON = 6;
constexpr int32_t IDNO_BUTTON = 7;
constexpr int32_t IDCLOSE_ = 8;

// Notifications.
constexpr uint32_t TDN_CREATED = 0;
constexpr uint32_t TDN_NAVIGATED = 1;
constexpr uint32_t TDN_BUTTON_CLICKED = 2;
constexpr uint32_t TDN_HYPERLINK_CLICKED = 3;
constexpr uint32_t TDN_TIMER = 4;
constexpr uint32_t TDN_DESTROYED = 5;
constexpr uint32_t TDN_RADIO_BUTTON_CLICKED = 6;
constexpr uint32_t TDN_DIALOG_CONSTRUCTED = 7;
constexpr uint32_t TDN_VERIFICATION_CLICKED = 8;
constexpr uint32_t TDN_HELP = 9;
constexpr uint32_t TDN_EXPANDO_BUTTON_CLICKED = 10;

// Messages (WM_USER + n).
constexpr uint32_t WM_USER_ = 0x400;
constexpr uint32_t TDM_NAVIGATE_PAGE = 0x465;
constexpr uint32_t TDM_CLICK_BUTTON = 0x466;
constexpr uint32_t TDM_SET_MARQUEE_PROGRESS_BAR = 0x467;
constexpr uint32_t TDM_SET_PROGRESS_BAR_STATE = 0x468;
constexpr uint32_t TDM_SET_PROGRESS_BAR_RANGE = 0x469;
constexpr uint32_t TDM_SET_PROGRESS_BAR_POS = 0x46A;
constexpr uint32_t TDM_SET_PROGRESS_BAR_MARQUEE = 0x46B;
constexpr uint32_t TDM_SET_ELEMENT_TEXT = 0x46C;
constexpr uint32_t TDM_CLICK_RADIO_BUTTON = 0x46E;
constexpr uint32_t TDM_ENABLE_BUTTON = 0x46F;
constexpr uint32_t TDM_ENABLE_RADIO_BUTTON = 0x470;
constexpr uint32_t TDM_CLICK_VERIFICATION = 0x471;
constexpr uint32_t TDM_UPDATE_ELEMENT_TEXT = 0x472;
constexpr uint32_t TDM_SET_BUTTON_ELEVATION_REQUIRED_STATE = 0x473;
constexpr uint32_t TDM_UPDATE_ICON = 0x474;

// Elements and icon slots of the update messages.
constexpr uint32_t TDE_CONTENT = 0;
constexpr uint32_t TDE_EXPANDED_INFORMATION = 1;
constexpr uint32_t TDE_FOOTER = 2;
constexpr uint32_t TDE_MAIN_INSTRUCTION = 3;
constexpr uint32_t TDIE_ICON_MAIN = 0;
constexpr uint32_t TDIE_ICON_FOOTER = 1;

// Stock icons as the 16-bit ordinals the platform receives.
constexpr uint16_t kTdIconWarning = 0xFFFF;      // -1
constexpr uint16_t kTdIconError = 0xFFFE;        // -2
constexpr uint16_t kTdIconInformation = 0xFFFD;  // -3
constexpr uint16_t kTdIconShield = 0xFFFC;       // -4

// Window messages and styles the component uses on the injected controls.
constexpr uint32_t WM_DESTROY_ = 0x0002;
constexpr uint32_t WM_SETTEXT_ = 0x000C;
constexpr uint32_t WM_GETTEXT_ = 0x000D;
constexpr uint32_t WM_SETFONT_ = 0x0030;
constexpr uint32_t WM_NOTIFY_ = 0x004E;
constexpr uint32_t WM_COMMAND_ = 0x0111;
constexpr uint32_t WM_HSCROLL_ = 0x0114;
constexpr uint32_t WM_CTLCOLORSTATIC_ = 0x0138;
constexpr uint32_t EN_CHANGE_ = 0x0300;
constexpr uint32_t CBN_SELCHANGE_ = 1;
constexpr uint32_t CBN_DROPDOWN_ = 7;
constexpr int32_t DTN_DATETIMECHANGE_ = -759;
constexpr uint32_t BCM_SETDROPDOWNSTATE_ = 0x1606;
constexpr uint32_t BM_SETIMAGE_ = 0x00F7;
constexpr uint32_t EM_SETSEL_ = 0x00B1;
constexpr uint32_t EM_SETPASSWORDCHAR_ = 0x00CC;
constexpr uint32_t EM_SETCUEBANNER_ = 0x1501;
constexpr uint32_t CB_GETCURSEL_ = 0x0147;
constexpr uint32_t CB_SETCURSEL_ = 0x014E;
constexpr uint32_t CB_GETITEMDATA_ = 0x0150;
constexpr uint32_t CB_SETDROPPEDWIDTH_ = 0x0160;
constexpr uint32_t CBEM_INSERTITEMW_ = 0x040B;
constexpr uint32_t CBEM_SETIMAGELIST_ = 0x0402;
constexpr uint32_t CBEM_GETEDITCONTROL_ = 0x0407;
constexpr uint32_t CBEM_SETUNICODEFORMAT_ = 0x2005;
constexpr uint32_t TBM_GETPOS_ = 0x0400;
constexpr uint32_t TBM_SETPOS_ = 0x0405;
constexpr uint32_t TBM_SETRANGEMIN_ = 0x0407;
constexpr uint32_t TBM_SETRANGEMAX_ = 0x0408;
constexpr uint32_t TBM_SETTICFREQ_ = 0x0414;
constexpr uint32_t TBM_SETPAGESIZE_ = 0x0415;
constexpr uint32_t TBM_SETLINESIZE_ = 0x0417;
constexpr uint32_t DTM_GETSYSTEMTIME_ = 0x1001;
constexpr uint32_t DTM_SETSYSTEMTIME_ = 0x1002;
constexpr uint32_t DTM_SETRANGE_ = 0x1004;

constexpr uint32_t WS_CHILD_ = 0x40000000;
constexpr uint32_t WS_VISIBLE_ = 0x10000000;
constexpr uint32_t WS_TABSTOP_ = 0x00010000;
constexpr uint32_t WS_EX_CLIENTEDGE_ = 0x00000200;
constexpr uint32_t ES_CENTER_ = 0x0001;
constexpr uint32_t ES_RIGHT_ = 0x0002;
constexpr uint32_t ES_PASSWORD_ = 0x0020;
constexpr uint32_t ES_AUTOHSCROLL_ = 0x0080;
constexpr uint32_t BS_SPLITBUTTON_ = 0x000C;
constexpr int32_t GWL_STYLE_ = -16;

// Control ids of the injected controls.
constexpr int32_t kIdInput = 101;
constexpr int32_t kIdDateTime = 102;
constexpr int32_t kIdDateTime2 = 103;
constexpr int32_t kIdCombo = 104;
constexpr int32_t kIdSlider = 105;
constexpr int32_t kIdLogo = 110;

}  // namespace qv
