#pragma once
// Every text the launcher shows: captions, initial control texts, button states, status lines and
// message boxes. Used exactly as written here.
namespace vantorix::update_flow::text {

inline constexpr wchar_t kCaption[] = L"检查更新";
inline constexpr wchar_t kMessageTitle[] = L"VantorixAssist";

// Initial texts, and the prefixes the manifest check writes the values after.
inline constexpr wchar_t kLabel1[] = L"当前程序版本：";
inline constexpr wchar_t kLabel7[] = L"最新版本名：";
inline constexpr wchar_t kLabel2[] = L"最新程序版本：";
inline constexpr wchar_t kLabel3[] = L"是否重要升级：";
inline constexpr wchar_t kNotMandatory[] = L"否";
inline constexpr wchar_t kLabel4[] = L"版本介绍：";
inline constexpr wchar_t kWaiting[] = L"等待更新中";

// Command1: its text is the form's state.
inline constexpr wchar_t kUpToDate[] = L"您已是最新版本";
inline constexpr wchar_t kOfferUpdate[] = L"立即升级";
inline constexpr wchar_t kUpdating[] = L"升级中";
inline constexpr wchar_t kDownloaded[] = L"升级完毕";
inline constexpr wchar_t kStartNow[] = L"立即启动";
// No usable manifest: the form knows nothing about updates and does not claim the version is the newest.
inline constexpr wchar_t kCannotCheck[] = L"无法检查更新";

// Status line.
inline constexpr wchar_t kGettingAddress[] = L"正在获取新版连接地址。。";
inline constexpr wchar_t kFileSize[] = L"文件大小：";
inline constexpr wchar_t kUnpacking[] = L"正在更新相关组件，如有杀毒软件阻止属于误报，保持信任即可！";
inline constexpr wchar_t kUpdateDone[] = L"更新完成！";
inline constexpr wchar_t kNoManifest[] = L"无法获取更新信息，请稍后再试";
// A failed download waiting for its next automatic attempt, and one handed back to the user.
inline constexpr wchar_t kRetryAfter[] = L"，";
inline constexpr wchar_t kRetrySeconds[] = L" 秒后自动重试（第 ";
inline constexpr wchar_t kRetryAttemptEnd[] = L" 次）";
inline constexpr wchar_t kRetryByHand[] = L"，请点击“立即升级”重试，关闭窗口将启动当前版本";

// Message boxes.
inline constexpr wchar_t kAskRegister[] =
    L"程序首次启动需要注册DLL控件，部分杀软可能会报毒，请点击仍要运行即或添加信任即可！是否继续？";
inline constexpr wchar_t kElevationDeclined[] =
    L"注册DLL控件需要管理员权限，您已拒绝授权，程序无法继续运行。请重新启动程序并在系统询问时点击“是”。";
inline constexpr wchar_t kAskClientMissing[] = L"程序重要文件缺失，是否立即打开官网重新下载？";
inline constexpr wchar_t kNewVersion[] = L"发现新版本！";
inline constexpr wchar_t kDownloadedPrefix[] = L"Vantorix已经成功下载了当前最新的：";
inline constexpr wchar_t kDownloadedSuffix[] = L"版本，点确定后程序自动更新文件";
inline constexpr wchar_t kAskArchiveMissing[] = L"新版程序缺失，请检查杀软设置，是否跳转到到官网下载最新版本！";
inline constexpr wchar_t kArchiveRejected[] =
    L"下载的更新文件不完整或已损坏，本次没有更新任何文件。点确定后启动当前版本，请稍后重新检查更新。";
// Why an archive is not the published one (shown in brackets after kArchiveRejected).
inline constexpr wchar_t kArchiveWrongSize[] = L"文件大小与更新信息不符";
inline constexpr wchar_t kArchiveWrongHash[] = L"SHA-256 校验值与更新信息不符";
inline constexpr wchar_t kArchiveUnreadable[] = L"无法读取下载的文件";
inline constexpr wchar_t kArchiveNotSigned[] = L"更新信息缺少发布者签名";
inline constexpr wchar_t kArchiveBadSignature[] = L"发布者签名无效";
inline constexpr wchar_t kWriteFailed[] =
    L"部分更新文件未能写入，请关闭正在运行的本程序后点击“立即升级”重试。";
inline constexpr wchar_t kNoRoom[] = L"磁盘空间不足，本次没有更新任何文件。请释放磁盘空间后点击“立即升级”重试。";
// The elevated install step: the user refused it, or it refused or failed (shown in brackets, as above).
inline constexpr wchar_t kUpdateElevationDeclined[] =
    L"安装更新需要管理员权限，您已拒绝授权，本次没有更新任何文件。点确定后启动当前版本，下次启动时将再次提供更新。";
// An earlier update was cut short and the user may not put the installation right: the elevated step
// settles it, asked for once.
inline constexpr wchar_t kRecoverNeedsAdmin[] =
    L"上次更新没有完成，部分程序文件需要恢复。恢复需要管理员权限，点确定后请在系统询问时授权。";
inline constexpr wchar_t kStepManifestRefused[] = L"安装步骤未能确认更新信息";
inline constexpr wchar_t kStepArchiveRejected[] = L"更新文件已损坏或无法使用";
inline constexpr wchar_t kStepNotSignedByPublisher[] = L"更新中的程序文件缺少发布者的数字签名";
inline constexpr wchar_t kStepFailedCode[] = L"安装步骤失败，代码 ";
// The elevated step refused the folder (step exit 15): not the installation the setup registered, or others
// than the administrators may change it.
inline constexpr wchar_t kStepInstallationRefused[] =
    L"安装步骤只更新由安装程序登记、且仅管理员可以修改的安装目录，当前程序所在的目录不符合要求，本次没有更新任何文件。"
    L"点确定后启动当前版本，请用安装程序重新安装后再更新。";
inline constexpr wchar_t kAskForceClose[] =
    L"您当前正在更新程序，无法退出。您可在更新完毕之后退出或者强制结束！是否强制结束？";

// Downloader state codes 1..10.
inline constexpr const wchar_t* kStates[] = {
    L"发送请求...", L"获取远程文件信息...", L"开始接收数据...", L"下载被终止...", L"停止下载",
    L"暂停下载",    L"连接服务器失败",     L"发送请求失败",     L"下载完毕",     L"保存路径出错",
};

}  // namespace vantorix::update_flow::text
