#pragma once

#include "core/ControlIds.h"

#include <array>

namespace varnel {

enum class ControlKind {
    PushButton,
    List,
    Combo,         // drop-down list with a vertical scroll bar
    LabelRight,    // static text, right-aligned
    LabelLeft,     // static text, left-aligned
    Bitmap,        // static picture at its natural size
    CheckTextLeft, // automatic check box with its text left of the box
};

enum class ControlImage { None, Logo, RedDisc, GreenDisc };

// One control of the window, in dialog units. `id` is 0 for a static control
// without an id of its own; `name` then tells it apart.
struct ControlTemplate {
    int id;
    ControlKind kind;
    const char* text;
    int x, y, w, h;
    ControlImage image = ControlImage::None;
    const char* name = nullptr;
};

inline constexpr int kTemplateWidth = 316;
inline constexpr int kTemplateHeight = 361;
inline constexpr const char* kWindowCaption = "Varnel";
// The text of the link label until it has been set up.
inline constexpr const char* kLinkText = "varnel.example.org";

// Template order is the tab order. A combo's height is its dropped-down height.
inline constexpr std::array<ControlTemplate, 30> kDialogTemplate{{
    {IDCANCEL_EXIT, ControlKind::PushButton, "Exit", 66, 288, 50, 36},
    {IDC_LIST, ControlKind::List, "", 6, 54, 306, 222},
    {IDC_READ, ControlKind::PushButton, "Read", 12, 288, 50, 36},
    {IDC_PORT, ControlKind::Combo, "", 254, 282, 56, 191},
    {0, ControlKind::LabelRight, "Port COM no.:", 180, 285, 72, 8, ControlImage::None, "ctlStaticPort"},
    {0, ControlKind::LabelRight, "Baud rate :", 12, 6, 45, 8, ControlImage::None, "ctlStaticBaudRate"},
    {IDC_BAUD_LABEL, ControlKind::LabelLeft, "Auto (300)", 61, 6, 53, 8},
    {0, ControlKind::LabelRight, "Protocol :", 12, 30, 45, 8, ControlImage::None, "ctlStaticProtocol"},
    {IDC_PROTOCOL_LABEL, ControlKind::LabelLeft, "?", 61, 30, 53, 8},
    {0, ControlKind::LabelRight, "FLAG :", 12, 18, 45, 8, ControlImage::None, "ctlStaticFlag"},
    {IDC_FLAG_LABEL, ControlKind::LabelLeft, "?", 61, 18, 53, 8},
    {0, ControlKind::LabelRight, "Description :", 12, 42, 45, 8, ControlImage::None, "ctlStaticDescription"},
    {IDC_DESCRIPTION_LABEL, ControlKind::LabelLeft, "?", 61, 42, 101, 8},
    {0, ControlKind::Bitmap, "", 204, 6, 101, 33, ControlImage::Logo, "ctlStaticLogo"},
    {IDC_LINK, ControlKind::LabelLeft, kLinkText, 204, 42, 108, 8},
    {IDC_SHOW_LOG, ControlKind::PushButton, "Show log", 120, 288, 50, 18},
    {IDC_RTS, ControlKind::CheckTextLeft, "RTS", 210, 336, 29, 10},
    {IDC_DTR, ControlKind::CheckTextLeft, "DTR", 246, 336, 29, 10},
    {IDC_TEST, ControlKind::PushButton, "Test", 120, 312, 50, 12},
    {IDC_BREAK, ControlKind::PushButton, "Break", 12, 336, 48, 18},
    {IDC_TXD_RED, ControlKind::Bitmap, "", 100, 340, 11, 10, ControlImage::RedDisc},
    {0, ControlKind::LabelRight, "TxD:", 78, 342, 16, 8, ControlImage::None, "ctlStaticTxd"},
    {IDC_RXD_RED, ControlKind::Bitmap, "", 152, 340, 11, 10, ControlImage::RedDisc},
    {0, ControlKind::LabelRight, "RxD:", 130, 342, 17, 8, ControlImage::None, "ctlStaticRxd"},
    {IDC_TXD_GREEN, ControlKind::Bitmap, "", 100, 340, 11, 10, ControlImage::GreenDisc},
    {IDC_RXD_GREEN, ControlKind::Bitmap, "", 152, 340, 11, 10, ControlImage::GreenDisc},
    {IDC_INITIAL_BAUD, ControlKind::Combo, "", 254, 296, 56, 191},
    {0, ControlKind::LabelRight, "Initial baudrate:", 180, 299, 72, 8, ControlImage::None,
     "ctlStaticInitialBaud"},
    {IDC_TRANSMIT_BAUD, ControlKind::Combo, "", 254, 310, 56, 191},
    {0, ControlKind::LabelRight, "Transmit baudrate:", 180, 313, 72, 8, ControlImage::None,
     "ctlStaticTransmitBaud"},
}};

} // namespace varnel
