#pragma once

#include "FakeClock.h"
#include "FakePort.h"
#include "ReadoutDlg.h"
#include "StartSettings.h"
#include "TempDir.h"
#include "core/ControlIds.h"
#include "widgets/CLinkLabel.h"

#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QtTest>

namespace varnel::test {

template <typename T> T Col(const char* name) { return *static_cast<T*>(QTest::qData(name, qMetaTypeId<T>())); }

// One window on a fake port, its desktop recorded instead of shown. Given a settings file, it
// starts from it and saves to it at exit, as a run of the program does.
struct Window {
    explicit Window(std::filesystem::path file = {}, bool realBoxes = false)
        : ini(std::move(file)), start(ini.empty() ? StartSettings{} : LoadStartSettings(ini)), port(&clock),
          dlg(port, clock, start.names, start.window, dir.File("Log1107.txt"))
    {
        if (!realBoxes)
            dlg.SetMessageHandler([](const std::string& text, MessageIcon) { QFAIL(text.c_str()); });
        dlg.SetUrlOpener([this](const QUrl& url) { return opened << url, openerTakes; });
        dlg.LinkLabel()->SetDesktop({[this](const QUrl& url) { return opened << url, true; }, {}, {}, {}, {}});
        dlg.SetDestroyHandler([this](int portIndex, const QRect& rect) {
            ++exits;
            if (!ini.empty())
                SaveWindowSettings(portIndex, rect, ini);
        });
    }
    template <typename T = QWidget> T* Get(int id) const { return dlg.findChild<T*>(QStringLiteral("ctl%1").arg(id)); }
    void Click(int id) const { Get<QPushButton>(id)->click(); }

    TempDir dir;
    std::filesystem::path ini;
    StartSettings start;
    FakeClock clock;
    FakePort port;
    QList<QUrl> opened;
    bool openerTakes = true;
    int exits = 0;
    CReadoutDlg dlg;
};

} // namespace varnel::test
