#include "app/KvoLauncherDlg.h"

#include "app/KvoLauncherApp.h"

CKvoLauncherDlg::CKvoLauncherDlg() : kvo::CDialog(IDD)
{
    m_hIcon = ::LoadIconA(kvo::CWinApp::GetResourceHandle(), MAKEINTRESOURCEA(IDR_MAINFRAME));
    m_log.Open(MakeDatedLogPath(theApp.m_strModuleDir, _time64(nullptr)).c_str());
}

CKvoLauncherDlg::~CKvoLauncherDlg()
{
    m_log.Close();
}

void CKvoLauncherDlg::DoDataExchange() {}

BOOL CKvoLauncherDlg::OnInitDialog()
{
    return kvo::CDialog::OnInitDialog();
}

void CKvoLauncherDlg::OnCancel()
{
    DestroyWindow();
}

void CKvoLauncherDlg::PostNcDestroy()
{
    kvo::CDialog::PostNcDestroy();
    delete this;  // the window owned the object
}

bool CKvoLauncherDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam, LRESULT& result)
{
    return kvo::CDialog::OnMessage(message, wParam, lParam, result);
}
