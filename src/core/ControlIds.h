#pragma once

namespace varnel {

// Numeric ids of the dialog's controls; the view seam addresses controls by them.
enum ControlId : int {
    IDCANCEL_EXIT = 2,
    IDC_LIST = 1000,
    IDC_READ = 1004,
    IDC_SHOW_LOG = 1005,
    IDC_PORT = 1006,
    IDC_TEST = 1007,
    IDC_BREAK = 1008,
    IDC_INITIAL_BAUD = 1009,
    IDC_TRANSMIT_BAUD = 1010,
    IDC_BAUD_LABEL = 1014,
    IDC_PROTOCOL_LABEL = 1015,
    IDC_FLAG_LABEL = 1016,
    IDC_DESCRIPTION_LABEL = 1017,
    IDC_LOGO = 1038,
    IDC_LINK = 1039,
    IDC_RTS = 1041,
    IDC_DTR = 1042,
    IDC_TXD_RED = 1043,
    IDC_TXD_GREEN = 1044,
    IDC_RXD_RED = 1045,
    IDC_RXD_GREEN = 1046,
};

enum TimerId : int {
    TIMER_RECEIVE = 32771,
    TIMER_LINE_STATUS = 32772,
};

} // namespace varnel
