#pragma once

#include "app/report/ReportDecoder.h"
#include "app/serial/CMSComm.h"
#include "commands/Drawing.h"

#include <QDialog>
#include <QHash>

class QCheckBox;
class QComboBox;
class QLineEdit;
class QPlainTextEdit;
class QPushButton;
class RandomSource;
class ReceiveView;

// The test console: one dialog that owns the serial control, the transmit and receive boxes and
// the command buttons. Handlers gather their inputs, let commands/ compose the statement and
// send it; no statement text is built here.
class CConsoleDlg : public QDialog
{
    Q_OBJECT

public:
    // `rng` is the one random source of the run (seeded once at start-up); it must outlive the
    // dialog.
    explicit CConsoleDlg(RandomSource& rng, QWidget* parent = nullptr);
    ~CConsoleDlg() override;

    // The control with this id, as the dialog template places it.
    QWidget* Item(int id) const;

    CMSComm& Comm() { return m_comm; }

    // Sends one statement: optionally shows it in the transmit box, then writes it to the port in
    // randomly sized pieces, each piece its own write.
    void SendCommand(const QByteArray& text, bool echo);

    void FillPortList();
    void UpdateControlStates();

protected:
    void done(int result) override;
    bool eventFilter(QObject* watched, QEvent* event) override;
    void contextMenuEvent(QContextMenuEvent* event) override;

private:
    using Handler = void (CConsoleDlg::*)();
    struct CommandEntry
    {
        int id;
        Handler handler;
    };
    static const CommandEntry kCommandTable[];

    void CreateItems();
    void BindCommands();
    void RunHandler(Handler handler);
    void ShowError(const QString& text);

    void OnInitDialog();
    void OnDestroy();
    void OnCommEvent();
    void OnDeviceLost(const QString& message);
    void ShowAboutBox();

    // Port row and manual send.
    void OnOpenPort();
    void OnClosePort();
    void OnRefreshPorts();
    void OnSend();
    void OnExit();

    // Drawing rows: each sends one statement, behind a random colour when that option is on.
    void SendDrawing(const QByteArray& statement);
    void OnLine();
    void OnPSet();
    void OnBox();
    void OnBoxFill();
    void OnRoundBox();
    void OnRoundBoxFill();
    void OnCircle();
    void OnCircleFill();
    void OnArc();
    void OnBezier();
    void OnPrint();

    // Control and media rows.
    void OnButtonCtrl();
    void OnEditCtrl();
    void OnCheckboxCtrl();
    void OnSliderCtrl();
    void OnProgressCtrl();
    void OnShowCursor();
    void OnHideCursor();
    void OnDrawImage();
    void OnSound();

    RandomSource& m_rng;
    ReportDecoder m_decoder;
    PSetGrid m_psetGrid;
    bool m_destroyed = false;

    QHash<int, QWidget*> m_items;
    QPushButton* m_btnRefreshPorts = nullptr;
    QPushButton* m_btnSetClock = nullptr;
    QPushButton* m_btnTouchCalibration = nullptr;
    QPushButton* m_btnDemoOff = nullptr;
    QPushButton* m_btnDemo3 = nullptr;
    QPushButton* m_btnDemo2 = nullptr;
    QPushButton* m_btnDemo1 = nullptr;
    ReceiveView* m_richReceive = nullptr;
    QLineEdit* m_editPrintText = nullptr;
    QCheckBox* m_chkRandomTextPos = nullptr;
    QCheckBox* m_chkRandomColor = nullptr;
    QPushButton* m_btnClose = nullptr;
    QPushButton* m_btnOpen = nullptr;
    QComboBox* m_comboSpeed = nullptr;
    QComboBox* m_comboPort = nullptr;
    QPlainTextEdit* m_editTransmit = nullptr;
    CMSComm m_comm;
};
