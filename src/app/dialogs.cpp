#include "app/dialogs.h"

#include "app/viewer_dlg.h"
#include "media/qzf_block.h"
#include "skin/skin_resources.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QRadioButton>
#include <QRegularExpression>
#include <QTreeView>
#include <QVBoxLayout>

namespace tv {

namespace {

const char* const kFolderInvalid = "The folder:\n\n%1\n\nis invalid. Please reenter.";
const char* const kFolderMissing =
    "The folder:\n\n%1\n\ndoes not exist. Do you want the folder to be created?";
const char* const kFolderFailed = "The folder:\n\n%1\n\ncan not be created. Please double check.";

bool ComponentValid(const QString& c) {
    if (c.isEmpty()) {
        return false;
    }
    auto edge = [](QChar ch) { return ch == u'\t' || ch == u' ' || ch == u'.'; };
    if (edge(c.front()) || edge(c.back())) {
        return false;
    }
    for (QChar ch : c) {
        if (ch == u'"' || ch == u'*' || ch == u'/' || ch == u':' || ch == u'<' || ch == u'>' ||
            ch == u'?' || ch == u'\\' || ch == u'|') {
            return false;
        }
    }
    return true;
}

// Reads an integer box as the dialog data exchange does: digits with an
// optional sign, nothing else.
bool ReadIntBox(const QLineEdit* box, int* value) {
    bool ok = false;
    const int v = box->text().trimmed().toInt(&ok, 10);
    if (ok) {
        *value = v;
    }
    return ok;
}

void IntegerPrompt(QWidget* parent, QLineEdit* box) {
    QMessageBox::warning(parent, parent->windowTitle(), QStringLiteral("Please enter an integer."));
    box->setFocus();
    box->selectAll();
}

// A TCP port: anything else would be cut to 16 bits and reach some other
// port without a word.
bool ReadPortBox(const QLineEdit* box, int* value) {
    int v = 0;
    if (!ReadIntBox(box, &v) || v < 1 || v > 65535) {
        return false;
    }
    *value = v;
    return true;
}

void PortPrompt(QWidget* parent, QLineEdit* box) {
    QMessageBox::warning(parent, parent->windowTitle(),
                         QStringLiteral("Please enter a port from 1 to 65535."));
    box->setFocus();
    box->selectAll();
}

} // namespace

bool FolderSyntaxValid(const QString& path) {
    if (!path.startsWith(u'/')) {
        return false;
    }
    if (path == QLatin1String("/")) {
        return true;
    }
    const QStringList parts = path.mid(1).split(u'/');
    for (const QString& c : parts) {
        if (!ComponentValid(c)) {
            return false;
        }
    }
    return true;
}

int CheckFolder(const QString& path, const FolderPrompts& prompts) {
    if (!FolderSyntaxValid(path)) {
        prompts.warn(QString::fromLatin1(kFolderInvalid).arg(path));
        return kFolderRejected;
    }
    // A capture or a recording makes its own last folder level when it first
    // needs it; only a missing parent would make it fail.
    if (QFileInfo(path).isDir() || QFileInfo(QFileInfo(path).absolutePath()).isDir()) {
        return kFolderAccepted;
    }
    if (!prompts.ask(QString::fromLatin1(kFolderMissing).arg(path))) {
        return kFolderRejected;
    }
    QString level;
    for (const QString& c : path.mid(1).split(u'/')) {
        level += u'/' + c;
        if (!QFileInfo(level).isDir()) {
            QDir().mkdir(level);
        }
        if (!QFileInfo(level).isDir()) {
            prompts.warn(QString::fromLatin1(kFolderFailed).arg(path));
            return kFolderRejected;
        }
    }
    return kFolderAccepted;
}

namespace {

FolderPrompts BoxPrompts(QWidget* owner) {
    FolderPrompts p;
    p.warn = [owner](const QString& text) {
        QMessageBox::warning(owner, QStringLiteral("Tessavin Viewer"), text);
    };
    p.ask = [owner](const QString& text) {
        return QMessageBox::question(owner, QStringLiteral("Tessavin Viewer"), text,
                                     QMessageBox::Yes | QMessageBox::No) == QMessageBox::Yes
                   ? 1
                   : 0;
    };
    return p;
}

class CFolderBrowser : public QDialog {
public:
    CFolderBrowser(QWidget* owner, const QString& initial) : QDialog(owner) {
        setWindowTitle(LoadResString(32809));
        auto* layout = new QVBoxLayout(this);
        layout->addWidget(new QLabel(LoadResString(32810), this));
        m_path = new QLineEdit(this);
        layout->addWidget(m_path);
        m_model.setFilter(QDir::AllDirs | QDir::NoDotAndDotDot);
        m_model.setRootPath(QStringLiteral("/"));
        m_tree = new QTreeView(this);
        m_tree->setModel(&m_model);
        for (int c = 1; c < m_model.columnCount(); ++c) {
            m_tree->hideColumn(c);
        }
        m_tree->header()->hide();
        m_tree->setMinimumSize(320, 280);
        layout->addWidget(m_tree);
        m_buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
        layout->addWidget(m_buttons);
        connect(m_buttons, &QDialogButtonBox::accepted, this, &CFolderBrowser::TryAccept);
        connect(m_buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
        connect(m_tree->selectionModel(), &QItemSelectionModel::currentChanged, this,
                [this](const QModelIndex& index) {
                    const QString p = m_model.filePath(index);
                    m_path->setText(p.startsWith(u'/') ? p : QString());
                });
        connect(m_path, &QLineEdit::textChanged, this, [this](const QString& text) {
            m_buttons->button(QDialogButtonBox::Ok)->setEnabled(!text.isEmpty());
        });
        const QString start = initial.isEmpty() ? QDir::currentPath() : initial;
        const QModelIndex index = m_model.index(start);
        if (index.isValid()) {
            m_tree->setCurrentIndex(index);
            m_tree->scrollTo(index);
        }
        m_path->setText(start);
    }
    QString Result() const { return m_path->text().left(260); }

private:
    void TryAccept() {
        if (CheckFolder(Result(), BoxPrompts(this)) == kFolderAccepted) {
            accept();
        } else {
            m_path->setFocus();
        }
    }
    QFileSystemModel m_model;
    QTreeView* m_tree;
    QLineEdit* m_path;
    QDialogButtonBox* m_buttons;
};

// An empty folder stands for the current directory; any other must exist.
bool FolderUsable(QLineEdit* box, const FolderPrompts& prompts) {
    const QString folder = box->text();
    if (folder.isEmpty() || QFileInfo(folder).isDir() ||
        CheckFolder(folder, prompts) == kFolderAccepted) {
        return true;
    }
    box->setFocus();
    box->selectAll();
    return false;
}

QHBoxLayout* FolderRow(QWidget* parent, QLineEdit* edit) {
    auto* row = new QHBoxLayout;
    row->addWidget(edit);
    auto* browse = new QPushButton(QStringLiteral("Browse..."), parent);
    row->addWidget(browse);
    QObject::connect(browse, &QPushButton::clicked, parent, [parent, edit] {
        const QString chosen = BrowseForFolder(parent, edit->text());
        if (!chosen.isEmpty()) {
            edit->setText(chosen);
        }
    });
    return row;
}

} // namespace

QString BrowseForFolder(QWidget* owner, const QString& initial) {
    CFolderBrowser browser(owner, initial);
    return browser.exec() == QDialog::Accepted ? browser.Result() : QString();
}

CAboutDlg::CAboutDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("About Viewer"));
    auto* layout = new QHBoxLayout(this);
    auto* icon = new QLabel(this);
    icon->setPixmap(QPixmap::fromImage(LoadSkinIcon(kIconApp)));
    layout->addWidget(icon, 0, Qt::AlignTop);
    auto* text = new QVBoxLayout;
    text->addWidget(new QLabel(QString::fromLatin1(kProductTitle), this));
    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Version:"), new QLabel(QStringLiteral("2.8.1.0"), this));
    form->addRow(QStringLiteral("Version:"), new QLabel(QStringLiteral("2.81"), this));
    text->addLayout(form);
    layout->addLayout(text);
    auto* ok = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(ok, &QDialogButtonBox::accepted, this, &QDialog::accept);
    layout->addWidget(ok, 0, Qt::AlignTop);
}

COptionsDlg::COptionsDlg(QWidget* parent) : QDialog(parent), m_folderPrompts(BoxPrompts(this)) {
    setWindowTitle(QStringLiteral("Options"));
    auto* layout = new QVBoxLayout(this);
    auto* general = new QGroupBox(QStringLiteral("General"), this);
    auto* g = new QVBoxLayout(general);
    m_onTop = new QCheckBox(QStringLiteral("Always on top"), general);
    m_showTime = new QCheckBox(QStringLiteral("Show playback time"), general);
    m_repeat = new QCheckBox(QStringLiteral("Repeat playback (&R)"), general);
    m_directDraw = new QCheckBox(QStringLiteral("Use DirectDraw"), general);
    for (QCheckBox* c : {m_onTop, m_showTime, m_repeat, m_directDraw}) {
        g->addWidget(c);
    }
    layout->addWidget(general);
    auto* path = new QGroupBox(QStringLiteral("Path for still capture"), this);
    m_folder = new QLineEdit(path);
    m_folder->setMinimumWidth(280);
    path->setLayout(FolderRow(this, m_folder));
    layout->addWidget(path);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &COptionsDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    m_timeFormat = "%Y/%m/%d %H:%M:%S";
}

void COptionsDlg::accept() {
    if (FolderUsable(m_folder, m_folderPrompts)) {
        QDialog::accept();
    }
}

void COptionsDlg::SetValues(const ViewerSettings& v) {
    m_onTop->setChecked(v.alwaysOnTop != 0);
    m_showTime->setChecked(v.showTime != 0);
    m_folder->setText(QString::fromStdString(v.capturePath));
    m_repeat->setChecked(v.repeat != 0);
    m_directDraw->setChecked(v.useDirectDraw != 0);
    m_timeFormat = v.timeFormat;
}

void COptionsDlg::GetValues(ViewerSettings* v) const {
    v->alwaysOnTop = m_onTop->isChecked() ? 1 : 0;
    v->showTime = m_showTime->isChecked() ? 1 : 0;
    v->capturePath = m_folder->text().toStdString();
    v->repeat = m_repeat->isChecked() ? 1 : 0;
    v->useDirectDraw = m_directDraw->isChecked() ? 1 : 0;
    v->timeFormat = m_timeFormat;
}

CNetOptionsDlg::CNetOptionsDlg(QWidget* parent)
    : QDialog(parent), m_folderPrompts(BoxPrompts(this)) {
    setWindowTitle(QStringLiteral("Network Options"));
    auto* layout = new QVBoxLayout(this);
    m_onTop = new QCheckBox(QStringLiteral("Always on top"), this);
    m_directDraw = new QCheckBox(QStringLiteral("Use DirectDraw"), this);
    m_reconnect = new QCheckBox(QStringLiteral("Auto Reconnection (&C)"), this);
    for (QCheckBox* c : {m_onTop, m_directDraw, m_reconnect}) {
        layout->addWidget(c);
    }
    // The recorder name is asked at login ("Select DVR"); the service's
    // address belongs with the other settings of the connection.
    auto* ddns = new QGroupBox(QStringLiteral("Dynamic IP"), this);
    auto* d = new QFormLayout(ddns);
    m_dynamic = new QCheckBox(QStringLiteral("Use dynamic ip service"), ddns);
    d->addRow(m_dynamic);
    m_ddnsIp = new QLineEdit(ddns);
    d->addRow(QStringLiteral("Server:"), m_ddnsIp);
    m_ddnsPort = new QLineEdit(ddns);
    m_ddnsPort->setMaximumWidth(60);
    d->addRow(QStringLiteral("Port:"), m_ddnsPort);
    layout->addWidget(ddns);
    auto* path = new QGroupBox(QStringLiteral("Path for recording file"), this);
    m_folder = new QLineEdit(path);
    m_folder->setMinimumWidth(280);
    path->setLayout(FolderRow(this, m_folder));
    layout->addWidget(path);
    auto* timeoutRow = new QHBoxLayout;
    timeoutRow->addWidget(new QLabel(QStringLiteral("Connection Timeout:"), this));
    m_timeout = new QLineEdit(this);
    m_timeout->setMaximumWidth(60);
    timeoutRow->addWidget(m_timeout);
    timeoutRow->addWidget(new QLabel(QStringLiteral("sec"), this));
    timeoutRow->addStretch();
    layout->addLayout(timeoutRow);
    auto* mouse = new QGroupBox(QStringLiteral("Mouse Remote Control"), this);
    auto* m = new QVBoxLayout(mouse);
    const char* labels[] = {"Disable", "Enable && Hidden cusor on DVR side",
                            "Enable && Display cusor on DVR side"};
    for (int i = 0; i < 3; ++i) {
        m_mouse[i] = new QRadioButton(QString::fromLatin1(labels[i]), mouse);
        m->addWidget(m_mouse[i]);
    }
    layout->addWidget(mouse);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &CNetOptionsDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
}

void CNetOptionsDlg::SetValues(const ViewerSettings& v) {
    m_onTop->setChecked(v.alwaysOnTop != 0);
    m_directDraw->setChecked(v.useDirectDraw != 0);
    m_reconnect->setChecked(v.autoReconnection != 0);
    m_dynamic->setChecked(v.dynamicIp != 0);
    m_ddnsIp->setText(QString::fromStdString(v.ddnsIp));
    m_ddnsPort->setText(QString::number(v.ddnsPort));
    m_folder->setText(QString::fromStdString(v.localRecordingPath));
    m_timeout->setText(QString::number(v.timeoutSeconds));
    for (int i = 0; i < 3; ++i) {
        m_mouse[i]->setChecked(v.mouseRemoteMode == i);
    }
}

int CNetOptionsDlg::GetValues(ViewerSettings* v) const {
    int port = 0;
    int timeout = 0;
    if (!ReadPortBox(m_ddnsPort, &port) || !ReadIntBox(m_timeout, &timeout)) {
        return 0;
    }
    v->alwaysOnTop = m_onTop->isChecked() ? 1 : 0;
    v->useDirectDraw = m_directDraw->isChecked() ? 1 : 0;
    v->autoReconnection = m_reconnect->isChecked() ? 1 : 0;
    v->dynamicIp = m_dynamic->isChecked() ? 1 : 0;
    v->ddnsIp = m_ddnsIp->text().toStdString();
    v->ddnsPort = port;
    v->localRecordingPath = m_folder->text().toStdString();
    v->timeoutSeconds = timeout;
    for (int i = 0; i < 3; ++i) {
        if (m_mouse[i]->isChecked()) {
            v->mouseRemoteMode = i;
        }
    }
    return 1;
}

void CNetOptionsDlg::accept() {
    int value = 0;
    if (!ReadIntBox(m_timeout, &value)) {
        IntegerPrompt(this, m_timeout);
        return;
    }
    if (!ReadIntBox(m_ddnsPort, &value)) {
        IntegerPrompt(this, m_ddnsPort);
        return;
    }
    if (!ReadPortBox(m_ddnsPort, &value)) {
        PortPrompt(this, m_ddnsPort);
        return;
    }
    if (!FolderUsable(m_folder, m_folderPrompts)) {
        return;
    }
    QDialog::accept();
}

CLoginDlg::CLoginDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Login"));
    auto* layout = new QVBoxLayout(this);
    auto* form = new QFormLayout;
    m_addressLabel = new QLabel(QStringLiteral("IP address:"), this);
    m_address = new QLineEdit(this);
    form->addRow(m_addressLabel, m_address);
    m_password = new QLineEdit(this);
    m_password->setEchoMode(QLineEdit::Password);
    form->addRow(new QLabel(QStringLiteral("Password:"), this), m_password);
    m_portLabel = new QLabel(QStringLiteral("Port:"), this);
    m_port = new QLineEdit(this);
    form->addRow(m_portLabel, m_port);
    layout->addLayout(form);
    m_dynamic = new QCheckBox(QStringLiteral("Use dynamic ip service"), this);
    m_dynamic->hide();
    layout->addWidget(m_dynamic);
    auto* buttons = new QDialogButtonBox(this);
    buttons->addButton(QStringLiteral("Login"), QDialogButtonBox::AcceptRole)->setDefault(true);
    buttons->addButton(QStringLiteral("Cancel"), QDialogButtonBox::RejectRole);
    connect(buttons, &QDialogButtonBox::accepted, this, &CLoginDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    layout->addWidget(buttons);
    connect(m_dynamic, &QCheckBox::toggled, this, [this](bool on) {
        ReadControls();
        m_dynamicOn = on;
        WriteControls();
    });
    m_ipAddress = "192.168.10.100";
    WriteControls();
}

void CLoginDlg::ReadControls() {
    if (m_dynamicOn) {
        m_recorderName = m_address->text().toStdString();
    } else {
        m_ipAddress = m_address->text().toStdString();
    }
}

void CLoginDlg::WriteControls() {
    const QSignalBlocker block(m_dynamic);
    m_dynamic->setChecked(m_dynamicOn);
    m_address->setText(QString::fromStdString(m_dynamicOn ? m_recorderName : m_ipAddress));
    m_addressLabel->setText(m_dynamicOn ? QStringLiteral("Select DVR")
                                        : QStringLiteral("IP address:"));
    m_portLabel->setVisible(!m_dynamicOn);
    m_port->setVisible(!m_dynamicOn);
}

void CLoginDlg::SetDynamicIp(bool on) {
    m_dynamic->setChecked(on);
}

void CLoginDlg::SetValues(const LoginValues& v) {
    m_ipAddress = v.ipAddress;
    m_recorderName = v.recorderName;
    m_dynamicOn = v.dynamicIp != 0;
    m_port->setText(QString::number(v.port));
    m_password->setText(QString::fromStdString(v.password));
    WriteControls();
}

int CLoginDlg::GetValues(LoginValues* v) const {
    int port = 0;
    if (!m_dynamicOn && !ReadPortBox(m_port, &port)) {
        return 0;
    }
    if (m_dynamicOn) {
        ReadIntBox(m_port, &port);
        v->recorderName = m_address->text().toStdString();
        v->ipAddress = m_ipAddress;
    } else {
        v->ipAddress = m_address->text().toStdString();
        v->recorderName = m_recorderName;
    }
    v->port = port;
    v->dynamicIp = m_dynamicOn ? 1 : 0;
    v->password = m_password->text().toStdString();
    return 1;
}

void CLoginDlg::accept() {
    int port = 0;
    if (!m_dynamicOn && !ReadIntBox(m_port, &port)) {
        IntegerPrompt(this, m_port);
        return;
    }
    if (!m_dynamicOn && !ReadPortBox(m_port, &port)) {
        PortPrompt(this, m_port);
        return;
    }
    QDialog::accept();
}

int ParseDateTimeText(const QString& text, SYSTEMTIME* time, QString* why) {
    static const QRegularExpression form(QStringLiteral(
        R"(^(\d{4})([/-])(\d{1,2})\2(\d{1,2})(?:\s+|T)(\d{1,2}):(\d{1,2}):(\d{1,2})$)"));
    const QRegularExpressionMatch m = form.match(text.trimmed());
    auto refuse = [why](const QString& reason) {
        if (why != nullptr) {
            *why = reason;
        }
        return 0;
    };
    if (!m.hasMatch()) {
        return refuse(QStringLiteral(
            "Type the date and time as YYYY/MM/DD hh:mm:ss or YYYY-MM-DD hh:mm:ss."));
    }
    auto field = [&m](int n) { return m.captured(n).toInt(); };
    if (field(5) > 23 || field(6) > 59 || field(7) > 59) {
        return refuse(QStringLiteral("There is no time of day %1:%2:%3.")
                          .arg(m.captured(5), m.captured(6), m.captured(7)));
    }
    if (field(1) < 1970 || field(1) > 2099) {
        return refuse(QStringLiteral("Recordings hold the years 1970 to 2099 only."));
    }
    // The tools' own reader, so that the window and qzftool refuse the same
    // days (2024-02-31 is no day, not a roll-over into March).
    const QString canonical = QString::asprintf("%04d-%02d-%02d %02d:%02d:%02d", field(1), field(3),
                                                field(4), field(5), field(6), field(7));
    if (!ParseBlockTime(canonical.toStdString(), time)) {
        return refuse(QStringLiteral("There is no day %1-%2-%3.")
                          .arg(m.captured(1), m.captured(3).rightJustified(2, u'0'),
                               m.captured(4).rightJustified(2, u'0')));
    }
    return 1;
}

QString DateTimeText(const SYSTEMTIME& t) {
    return QString::asprintf("%04u/%02u/%02u %02u:%02u:%02u", t.wYear, t.wMonth, t.wDay, t.wHour,
                             t.wMinute, t.wSecond);
}

CGoToTimeDlg::CGoToTimeDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Go to Time"));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(new QLabel(QStringLiteral("Date and time (YYYY/MM/DD hh:mm:ss):"), this));
    m_text = new QLineEdit(this);
    m_text->setMaxLength(64);
    layout->addWidget(m_text);
    m_problem = new QLabel(this);
    m_problem->setWordWrap(true);
    m_problem->hide();
    layout->addWidget(m_problem);
    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(buttons, &QDialogButtonBox::accepted, this, &CGoToTimeDlg::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &CGoToTimeDlg::reject);
    layout->addWidget(buttons);
    connect(m_text, &QLineEdit::textEdited, m_problem, &QLabel::hide);
}

void CGoToTimeDlg::SetTime(const SYSTEMTIME& time) {
    m_time = time;
    m_text->setText(DateTimeText(time));
    m_text->selectAll();
}

void CGoToTimeDlg::accept() {
    QString why;
    SYSTEMTIME t{};
    if (!ParseDateTimeText(m_text->text(), &t, &why)) {
        m_problem->setText(why);
        m_problem->show();
        m_text->setFocus();
        m_text->selectAll();
        return;
    }
    m_time = t;
    QDialog::accept();
}

int RunGoToTimeDialog(QWidget* owner, SYSTEMTIME* time) {
    CGoToTimeDlg dlg(owner);
    dlg.SetTime(*time);
    if (dlg.exec() != QDialog::Accepted) {
        return 0;
    }
    *time = dlg.Time();
    return 1;
}

int RunOptionsDialog(QWidget* owner, ViewerSettings* values) {
    COptionsDlg dlg(owner);
    dlg.SetValues(*values);
    if (dlg.exec() != QDialog::Accepted) {
        return 0;
    }
    dlg.GetValues(values);
    return 1;
}

int RunNetOptionsDialog(QWidget* owner, ViewerSettings* values) {
    CNetOptionsDlg dlg(owner);
    dlg.SetValues(*values);
    if (dlg.exec() != QDialog::Accepted) {
        return 0;
    }
    return dlg.GetValues(values);
}

int RunLoginDialog(QWidget* owner, LoginValues* values) {
    CLoginDlg dlg(owner);
    dlg.SetValues(*values);
    if (dlg.exec() != QDialog::Accepted) {
        return 0;
    }
    return dlg.GetValues(values);
}

} // namespace tv
