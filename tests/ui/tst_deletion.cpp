// "Elimina" of a family unit while another desk stores its members: the
// family unit goes with every member the database holds at that moment, the
// operator is told first when those are more than the window showed, and no
// member is ever left without its family unit.

#include <QtTest>
#include <atomic>
#include <random>
#include <thread>

#include "data/sql/EngineFactory.h"
#include "support/DataTestSupport.h"
#include "support/TestApplication.h"
#include "support/WindowFixture.h"

using namespace marvesa;
using namespace marvesa::test;
using namespace Qt::StringLiterals;

namespace {

const QString kConfirmation =
    u"La procedura Cancellerà il Codice Nucleo Familiare\r\re relativi Familiari"_s;

void click(QWidget* button) {
    QTest::mouseClick(button, Qt::LeftButton);
}

// Members whose family unit is gone: never shown, exported or deleted again.
int orphans(Sql& sql) {
    return sql
        .one(
            u"SELECT count(*) FROM TBL_ANAGRAFICA a WHERE NOT EXISTS (SELECT 1 FROM "
            "TBL_NUCLEO n WHERE n.CODICE_NUCLEO = a.CODICE_NUCLEO)"_s)
        .toInt();
}

}  // namespace

class TstDeletion : public QObject {
    Q_OBJECT

private slots:
    void initTestCase() { TemplateDatabase::path(); }

    // Another desk stores a member of the family unit while "Elimina" asks:
    // before anything is deleted the operator is told how many members the
    // database now holds and asked again; "No" keeps everything, "Yes"
    // deletes the family unit with all of them.
    void moreMembersThanShown() {
        for (const DialogButton second : {DialogButton::No, DialogButton::Yes}) {
            WindowFixture f;
            TfrmMain& w = f.w();
            Sql sql(f.path);
            QCOMPARE(w.edtDescNucleo->text(), u"ROSSI"_s);
            QCOMPARE(w.DBGrid1->model()->rowCount(), 2);
            f.dialogs.onAsk = [&](const DialogRequest& box) {
                if (box.text == kConfirmation)
                    sql.addMember(u"QX100"_s, u"ROSSI"_s, u"NUOVO"_s);
            };
            f.dialogs.answerNext(DialogButton::Yes);
            f.dialogs.answerNext(second);
            click(w.btnEliminaNucleo);
            QCOMPARE(f.dialogs.shown.size(), 2);
            QCOMPARE(f.dialogs.shown[0].text, kConfirmation);
            const DialogRequest& told = f.dialogs.shown[1];
            QCOMPARE(told.text,
                     u"Un'altra postazione ha aggiunto familiari al Nucleo Familiare QX100 dopo "
                     "che è stato mostrato.\r\rFamiliari mostrati: 2\rFamiliari nel database: 3"
                     "\r\rCancellare il Nucleo Familiare con tutti i suoi familiari?"_s);
            QCOMPARE(told.icon, DialogIcon::Question);
            QCOMPARE(told.buttons, (QList<DialogButton>{DialogButton::Yes, DialogButton::No}));
            if (second == DialogButton::No) {
                QCOMPARE(sql.count(u"TBL_NUCLEO"_s, u"CODICE_NUCLEO = 'QX100'"_s), 1);
                QCOMPARE(sql.count(u"TBL_ANAGRAFICA"_s, u"CODICE_NUCLEO = 'QX100'"_s), 3);
                // The new member shows once the box is closed; asked about
                // three, three go.
                QTRY_COMPARE_WITH_TIMEOUT(w.DBGrid1->model()->rowCount(), 3, 3000);
                f.dialogs.clear();
                f.dialogs.onAsk = nullptr;
                f.dialogs.answerNext(DialogButton::Yes);
                click(w.btnEliminaNucleo);
                QCOMPARE(f.dialogs.texts(), QStringList{kConfirmation});
            }
            QCOMPARE(sql.count(u"TBL_NUCLEO"_s, u"CODICE_NUCLEO = 'QX100'"_s), 0);
            QCOMPARE(sql.count(u"TBL_ANAGRAFICA"_s, u"CODICE_NUCLEO = 'QX100'"_s), 0);
            QCOMPARE(sql.count(u"TBL_ANAGRAFICA"_s), 1);
            // The window stands on the next family unit, with its member.
            QCOMPARE(w.edtDescNucleo->text(), u"VERDI"_s);
            QCOMPARE(w.DBGrid1->model()->rowCount(), 1);
            QCOMPARE(w.DBGrid2->model()->rowCount(), 2);
        }
    }

    // Round after round, "Elimina" at this desk while another desk stores
    // members of the same family unit as fast as it can: every member ends
    // with its family unit, deleted or refused, never left without it.
    void racingAnotherDesk() {
        WindowFixture f;
        TfrmMain& w = f.w();
        Sql sql(f.path);
        constexpr int kRounds = 200;
        constexpr int kMembersPerRound = 3;
        std::atomic<int> round{-1};
        std::atomic<bool> done{false}, failed{false};
        std::atomic<int> stored{0}, refused{0};
        QString failure;
        std::thread other([&] {
            try {
                const std::unique_ptr<QtSqlEngine> desk = openEngine(f.path);
                std::mt19937 random(20);
                for (int r = 0; r < kRounds; ++r) {
                    while (round.load() < r)
                        std::this_thread::yield();
                    const QString code = u"QXR%1"_s.arg(r);
                    for (int i = 0; i < kMembersPerRound; ++i) {
                        std::this_thread::sleep_for(std::chrono::microseconds(random() % 1500));
                        const std::optional<qint64> id = desk->insertWithParent(
                            u"TBL_ANAGRAFICA"_s, {u"CODICE_NUCLEO"_s, u"COGNOME"_s},
                            {code, u"ALTRA"_s}, {u"TBL_NUCLEO"_s, u"CODICE_NUCLEO"_s, code});
                        if (!id) {
                            ++refused;
                            break;
                        }
                        ++stored;
                    }
                    done = true;
                    while (done.load() && round.load() == r)
                        std::this_thread::yield();
                }
            } catch (const std::exception& e) {
                failure = QString::fromUtf8(e.what());
                failed = true;
                done = true;
            }
        });
        // However this test ends, the other desk runs through its rounds
        // (each refused at once) and ends.
        struct Join {
            std::thread& thread;
            std::atomic<int>& round;
            ~Join() {
                round = kRounds;
                thread.join();
            }
        } join{other, round};
        std::mt19937 random(21);
        int told = 0;
        for (int r = 0; r < kRounds && !failed.load(); ++r) {
            DataSet& n = f.nucleo();
            n.insert();
            set(n, "CODICE_NUCLEO", qPrintable(u"QXR%1"_s.arg(r)));
            n.post();
            add(f.members(), "COGNOME", "QUESTA");
            f.dialogs.clear();
            done = false;
            round = r;
            std::this_thread::sleep_for(std::chrono::microseconds(random() % 2000));
            click(w.btnEliminaNucleo);
            told += int(f.dialogs.shown.size()) - 1;
            while (!done.load())
                std::this_thread::yield();
            QCOMPARE(sql.count(u"TBL_NUCLEO"_s, u"CODICE_NUCLEO = 'QXR%1'"_s.arg(r)), 0);
            QCOMPARE(sql.count(u"TBL_ANAGRAFICA"_s, u"CODICE_NUCLEO = 'QXR%1'"_s.arg(r)), 0);
            done = false;
        }
        QVERIFY2(!failed.load(), qPrintable(failure));
        QCOMPARE(orphans(sql), 0);
        // Both ways the race can go came about: members deleted with their
        // family unit (told first) and members refused after it.
        qInfo("%d members stored, %d refused, told %d times", stored.load(), refused.load(), told);
        QVERIFY(stored.load() > 0);
        QVERIFY(refused.load() > 0);
        QVERIFY(told > 0);
    }
};

MARVESA_TEST_MAIN(TstDeletion)
#include "tst_deletion.moc"
