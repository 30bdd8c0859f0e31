#pragma once
// The maker's web addresses, built in, in one place.
namespace vantorix::client::maker {

inline constexpr const wchar_t* kHomePage = L"https://www.vantorix.com/";
inline constexpr const wchar_t* kFeedbackPage = L"https://www.vantorix.com/forum.php?mod=post&action=newthread&fid=43";
// Customer-service chat: an instant-messaging chat request the messenger installed on the machine answers.
inline constexpr const wchar_t* kServiceChat = L"tencent://message/?uin=800061848&Site=vantorix&Menu=yes";
inline constexpr const wchar_t* kUserGroup = L"https://qm.qq.com/cgi-bin/qm/qr?k=vantorix-users&jump_from=webapi";

// The program title: caption of the main window and of the client's message boxes.
inline constexpr const wchar_t* kProgramTitle = L"TAVI助手Plus";

}  // namespace vantorix::client::maker
