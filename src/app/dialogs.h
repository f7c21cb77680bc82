#pragma once

#include "platform/win_types.h"
#include "skin/settings.h"

#include <QDialog>
#include <QString>
#include <functional>
#include <string>

class QCheckBox;
class QLabel;
class QLineEdit;
class QRadioButton;

namespace tv {

struct LoginValues;

// The answer of the folder check.
enum FolderCheck : int {
    kFolderRejected = 0,
    kFolderAccepted = 1,
};

// Questions the folder check asks; tests answer them.
struct FolderPrompts {
    // Shows a message with the exclamation icon.
    std::function<void(const QString& text)> warn;
    // Asks a yes/no question; 1 for Yes.
    std::function<int(const QString& text)> ask;
};

// Checks a folder typed or chosen by the user: an absolute path whose
// components are well formed; an existing folder is accepted, a missing one
// is created level by level when the user agrees.
int CheckFolder(const QString& path, const FolderPrompts& prompts);
// The syntax part alone.
bool FolderSyntaxValid(const QString& path);

class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* parent = nullptr);
};

// Options of player mode.
class COptionsDlg : public QDialog {
    Q_OBJECT
public:
    explicit COptionsDlg(QWidget* parent = nullptr);
    // Fills the controls from the values, and the values from the controls on OK.
    void SetValues(const ViewerSettings& values);
    void GetValues(ViewerSettings* values) const;
    QLineEdit* CaptureFolderBox() const { return m_folder; }
    // How the folder check asks; message boxes unless replaced.
    void SetFolderPrompts(const FolderPrompts& prompts) { m_folderPrompts = prompts; }

    // A capture folder that does not exist is created (when the user agrees)
    // or refused: captures into it would fail.
    void accept() override;

private:
    FolderPrompts m_folderPrompts;
    QCheckBox* m_onTop;
    QCheckBox* m_showTime;
    QLineEdit* m_folder;
    QCheckBox* m_repeat;
    QCheckBox* m_directDraw;
    std::string m_timeFormat;
};

// Options of client mode.
class CNetOptionsDlg : public QDialog {
    Q_OBJECT
public:
    explicit CNetOptionsDlg(QWidget* parent = nullptr);
    void SetValues(const ViewerSettings& values);
    // 0 when an integer box holds no number (the dialog stays open).
    int GetValues(ViewerSettings* values) const;
    QLineEdit* TimeoutBox() const { return m_timeout; }
    QLineEdit* RecordingFolderBox() const { return m_folder; }
    QCheckBox* DynamicIpBox() const { return m_dynamic; }
    void SetFolderPrompts(const FolderPrompts& prompts) { m_folderPrompts = prompts; }

    void accept() override;

private:
    FolderPrompts m_folderPrompts;
    QCheckBox* m_dynamic;
    QCheckBox* m_onTop;
    QCheckBox* m_directDraw;
    QCheckBox* m_reconnect;
    QLineEdit* m_ddnsIp;
    QLineEdit* m_ddnsPort;
    QLineEdit* m_folder;
    QLineEdit* m_timeout;
    QRadioButton* m_mouse[3];
};

// The recorder login.
class CLoginDlg : public QDialog {
    Q_OBJECT
public:
    explicit CLoginDlg(QWidget* parent = nullptr);
    void SetValues(const LoginValues& values);
    int GetValues(LoginValues* values) const;
    void SetDynamicIp(bool on);

    QLineEdit* AddressBox() const { return m_address; }
    QLineEdit* PasswordBox() const { return m_password; }
    QLineEdit* PortBox() const { return m_port; }
    QLabel* AddressLabel() const { return m_addressLabel; }
    QLabel* PortLabel() const { return m_portLabel; }
    QCheckBox* DynamicBox() const { return m_dynamic; }

    void accept() override;

private:
    void ReadControls();
    void WriteControls();

    QLabel* m_addressLabel;
    QLineEdit* m_address;
    QLineEdit* m_password;
    QCheckBox* m_dynamic;
    QLabel* m_portLabel;
    QLineEdit* m_port;
    std::string m_ipAddress;
    std::string m_recorderName;
    bool m_dynamicOn = false;
};

// A date and time as typed or pasted: "YYYY/MM/DD hh:mm:ss" as the Go to
// Time dialog shows it, or "YYYY-MM-DD hh:mm:ss" as the tools print it. 1 and
// the time when the text is one of them and the day and time exist; 0 and,
// when asked, why not.
int ParseDateTimeText(const QString& text, SYSTEMTIME* time, QString* why = nullptr);
// The form the dialog shows.
QString DateTimeText(const SYSTEMTIME& time);

// The jump to a date and time. The time is typed as text: a user copies it
// from a report or a tool's output and pastes it whole.
class CGoToTimeDlg : public QDialog {
    Q_OBJECT
public:
    explicit CGoToTimeDlg(QWidget* parent = nullptr);
    void SetTime(const SYSTEMTIME& time);
    SYSTEMTIME Time() const { return m_time; }
    QLineEdit* TimeBox() const { return m_text; }
    QLabel* ProblemLabel() const { return m_problem; }

    // Text that is no date and time, or a day that does not exist, keeps the
    // dialog open and says why.
    void accept() override;

private:
    QLineEdit* m_text;
    QLabel* m_problem;
    SYSTEMTIME m_time{};
};

// Chooses a folder, with an edit box holding the path that will be returned;
// empty when cancelled.
QString BrowseForFolder(QWidget* owner, const QString& initial);

int RunOptionsDialog(QWidget* owner, ViewerSettings* values);
int RunNetOptionsDialog(QWidget* owner, ViewerSettings* values);
int RunLoginDialog(QWidget* owner, LoginValues* values);
// 1 with the time changed in place on OK.
int RunGoToTimeDialog(QWidget* owner, SYSTEMTIME* time);

} // namespace tv
