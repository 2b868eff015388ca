// Numeric ids of the settings and messages in the configuration block.
#pragma once

namespace key {
// Launch and runtime selection.
constexpr int kSplashTitle = 101;
constexpr int kPassPathArgument3 = 102;
constexpr int kPathArgument3 = 103;
constexpr int kPassPathArgument4 = 104;
constexpr int kPathArgument4 = 105;
constexpr int kFifthMainArgument = 106;
constexpr int kExecutableType = 107;
constexpr int kSplashScreen = 108;
constexpr int kClassPath = 121;
constexpr int kSecondMainArgument = 122;
constexpr int kVmOptions = 123;
constexpr int kMainArguments = 124;
constexpr int kJArgumentsAreVmOptions = 125;
constexpr int kMinJavaVersion = 126;
constexpr int kMaxJavaVersion = 127;
constexpr int kJvmSearchSequence = 128;
constexpr int kAllowPreRelease = 130;
constexpr int kRequireJdk = 131;
constexpr int kSplashWidth = 141;
constexpr int kSplashHeight = 142;
constexpr int kSplashAutoOff = 145;
constexpr int kWorkingDirectory = 146;
constexpr int kSplashOnTop = 147;
constexpr int kJreDownloadUrl = 150;
constexpr int kIncludedJreSize = 151;
constexpr int kPreferredJvmSubdirectory = 152;
constexpr int kPack200 = 153;
constexpr int kNoProgressDialog = 155;
constexpr int kDownloadWithoutAsking = 157;
constexpr int kGlobalInstanceSemaphore = 158;
constexpr int kNoWindowTimeLimit = 159;
constexpr int kApplicationId = 160;
constexpr int kPreferInstalledJre = 161;
constexpr int kSplashJavaArgument = 163;
constexpr int kSharedJresOnly = 165;
constexpr int kDefaultVmOptionsFile = 166;

// Product and payload.
constexpr int kFlavour = 2001;
constexpr int kIncludedFileCount = 2002;
constexpr int kIncludedFiles = 2003;

// Installation, environment, single instance, splash texts.
constexpr int kInstallationDirectory = 10003;
constexpr int kNativeLibraryDirectories = 10004;
constexpr int kSingleInstance = 10005;
constexpr int kActivateRunningInstance = 10007;
constexpr int kSplashStatusX = 10109;
constexpr int kSplashStatusY = 10110;
constexpr int kSplashStatusText = 10111;
constexpr int kSplashStatusFont = 10112;
constexpr int kSplashStatusFontSize = 10113;
constexpr int kSplashStatusColor = 10114;
constexpr int kSplashStatusFontWeight = 10115;
constexpr int kSplashVersionX = 10116;
constexpr int kSplashVersionY = 10117;
constexpr int kSplashVersionText = 10118;
constexpr int kSplashVersionFont = 10119;
constexpr int kSplashVersionFontSize = 10120;
constexpr int kSplashVersionColor = 10121;
constexpr int kSplashVersionFontWeight = 10122;
constexpr int kJavaSplashLibrary = 10123;
constexpr int kVersionOptionCount = 10200;
constexpr int kVersionOptionPrefixBase = 10201;   // + 2i
constexpr int kVersionOptionLineBase = 10202;     // + 2i
}  // namespace key

// Executable types of key::kExecutableType that keep error boxes.
constexpr int kExecutableTypeWindowed = 1;
constexpr int kExecutableTypeBoxes = 5;

namespace msg {
// 1000 range: messages map with fallback to the settings map.
constexpr int kErrorCaption = 1000;
constexpr int kVmNotStarted = 1005;
constexpr int kClassPathEntryMissing = 1006;
constexpr int kClassPathVariableUnset = 1008;
constexpr int kInternalError = 1009;
constexpr int kMainClassMissing = 1010;
constexpr int kMainMethodMissing = 1011;
constexpr int kNoTempDirectory = 1015;
constexpr int kNoSuitableJre = 1016;
constexpr int kJreLocationUnusable = 1018;
constexpr int kJreNotLoadable = 1020;

// 20000 range: messages map only.
constexpr int kDownloadProgress = 20001;
constexpr int kDownloadInitFailed = 20002;
constexpr int kDownloadFailed = 20003;
constexpr int kLocateJavaTitle = 20004;
constexpr int kQuestionDownload = 20005;
constexpr int kQuestionNoDownload = 20006;
constexpr int kBootstrapProgress = 20007;
constexpr int kDownloadStatus = 20008;
constexpr int kDownloadConnecting = 20009;
constexpr int kDownloadButton = 20010;
constexpr int kLocateButton = 20011;
constexpr int kCancelButton = 20012;
constexpr int kLauncherCaption = 20013;
constexpr int kWindowTimeout = 20014;
constexpr int kIntegrityFailed = 20016;
constexpr int kWriteFailed = 20018;
constexpr int kMinVersionLabel = 20019;
constexpr int kMaxVersionLabel = 20020;
}  // namespace msg

// Detail codes of msg::kInternalError.
namespace internal_error {
constexpr const char* kExtractionDirectory = "7";
constexpr const char* kCreateExtractedFile = "11";
constexpr const char* kFirstRunClass = "14";
constexpr const char* kFirstRunMethod = "15";
constexpr const char* kUnpack = "20";
constexpr const char* kReadForCheck = "34";
constexpr const char* kExtractAndExitDirectory = "70";
constexpr const char* kUnextractedFile = "71";
}  // namespace internal_error
