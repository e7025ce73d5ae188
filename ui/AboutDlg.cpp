#include "AboutDlg.h"

#include "resource.h"

// Placeholder contact details of our own; the account and signatures are
// fictional.
const char kAboutText[] =
    "本软件由 Quorvel 开发者制作，发现问题欢迎反馈。\r\n"
    "QQ:10000000\r\n"
    "Email：quorvel@example.com";

const char kAboutContactLink[] =
    "tencent://message/?Menu=yes&uin=10000000&Site=&Service=201"
    "&sigT=000000000000000000000000000000000000000000000000"
    "000000000000000000000000000000000000000000000000"
    "&sigU=00000000000000000000000000000000000000000000000000000000000000000000000000000000";

// The picture control's rectangle in IDD_ABOUTBOX, in dialog units: 3, 26,
// 200 x 177. The bitmap is drawn for it at 96 DPI (300 x 265 pixels).
constexpr RECT kPictureFrame = {3, 26, 203, 203};

// clang-format off
BEGIN_MESSAGE_MAP(CAboutDlg, CDialog)
    ON_WM_CANCELMODE()
    ON_BN_CLICKED(IDC_CONTACT, CAboutDlg::OnContact)
END_MESSAGE_MAP()
// clang-format on

CAboutDlg::CAboutDlg()
    : CDialog(IDD_ABOUTBOX, nullptr)
{
}

BOOL CAboutDlg::OnInitDialog()
{
    CDialog::OnInitDialog();
    FitPicture(IDB_ABOUT_PICTURE, kPictureFrame);
    SetDlgItemText(IDC_ABOUT_TEXT, kAboutText);
    return TRUE;
}

void CAboutDlg::OnCancelMode()
{
    CDialog::OnCancelMode();
    ShellExecuteA(m_hWnd, "open", kAboutContactLink, nullptr, "", SW_SHOWNORMAL);
}

void CAboutDlg::OnContact()
{
    ShellExecuteA(m_hWnd, "open", kAboutContactLink, nullptr, "", SW_SHOWNORMAL);
}
