#pragma once

#include <QDialog>

#include <string>

// The about box: the product name painted at the top and the program's file
// version, read from the version marker in the program file.
class CAboutDlg : public QDialog {
    Q_OBJECT

public:
    // `programPath` is the program file whose version is shown; by default the
    // running program.
    explicit CAboutDlg(QWidget* parent = nullptr, std::string programPath = "/proc/self/exe");

    int DoModal() { return exec(); }

protected:
    void OnInitDialog();
    void DoDataExchange(bool saveAndValidate);
    void paintEvent(QPaintEvent* event) override;

private:
    std::string m_strVersion;
    std::string m_strProgramPath;
};
