#pragma once

// The main window on a real database: every fixture works on its own copy of
// the seeded template (TemplateDatabase.h), with the window created, bound
// and shown in the program's start-up order and made the active window.

#include <QAbstractItemView>
#include <QApplication>
#include <QClipboard>
#include <QComboBox>
#include <QFile>
#include <QTemporaryDir>
#include <QtTest>
#include <memory>

#include "data/registry/DataModule.h"
#include "data/schema/FileDatabase.h"
#include "data/schema/TableDefinitions.h"
#include "support/OperatorInput.h"
#include "support/ScriptedDialogs.h"
#include "support/TemplateDatabase.h"
#include "support/TestDatabases.h"
#include "support/TestEngine.h"
#include "support/TestServer.h"
#include "ui/window/MainWindow.h"

namespace marvesa::test {

struct WindowFixture {
    QTemporaryDir dir;
    QString path;
    ScriptedDialogs dialogs;
    std::unique_ptr<TfrmMain> window;
    std::unique_ptr<TdmMarvesa> dm;

    explicit WindowFixture(bool open = true);
    // The program's exit order: the data module before the window.
    ~WindowFixture();

    TfrmMain& w() { return *window; }
    DataSet& nucleo() { return dm->TBL_NUCLEO; }
    DataSet& members() { return dm->TBL_ANAGRAFICA; }

    // A column of the current row as text, NULL as "<NULL>".
    QString column(DataSet& t, const char* name);

    // Focus a control as the operator would, by clicking into it.
    static void focus(QWidget* w);
};

}  // namespace marvesa::test
