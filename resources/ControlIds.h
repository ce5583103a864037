#pragma once

// Control ids of the console's dialog templates. They are the stable names by which handlers,
// tests and the layout tables refer to controls.
namespace ids {

// Dialog templates.
inline constexpr int kAboutBox = 100;
inline constexpr int kStrAboutEntry = 101;
inline constexpr int kConsoleDialog = 102;
inline constexpr int kIcon = 128;
inline constexpr int kUnicodeGenDialog = 132;

// Port row.
inline constexpr int kPortList = 1012;
inline constexpr int kSpeedList = 1013;
inline constexpr int kOpen = 1015;
inline constexpr int kClose = 1018;
inline constexpr int kRefreshPorts = 1045;

// Drawing rows.
inline constexpr int kLine = 1001;
inline constexpr int kPSet = 1029;
inline constexpr int kBox = 1007;
inline constexpr int kBoxFill = 1017;
inline constexpr int kRoundBox = 1021;
inline constexpr int kRoundBoxFill = 1027;
inline constexpr int kCircle = 1009;
inline constexpr int kCircleFill = 1010;
inline constexpr int kArc = 1016;
inline constexpr int kBezier = 1011;
inline constexpr int kPrint = 1006;
inline constexpr int kPrintText = 1025;
inline constexpr int kRandomColor = 1019;
inline constexpr int kRandomTextPos = 1020;

// Control and media rows.
inline constexpr int kButtonCtrl = 4004;
inline constexpr int kEditCtrl = 4007;
inline constexpr int kCheckboxCtrl = 4006;
inline constexpr int kSliderCtrl = 4011;
inline constexpr int kProgressCtrl = 4009;
inline constexpr int kShowCursor = 4039;
inline constexpr int kHideCursor = 4044;
inline constexpr int kDrawImage = 4037;
inline constexpr int kSound = 4030;

// Style rows.
inline constexpr int kDotSize = 1002;
inline constexpr int kColor = 1004;
inline constexpr int kTextPosTopLeft = 1024;
inline constexpr int kTextPosRect = 1022;
inline constexpr int kCtrlFont = 4005;
inline constexpr int kCtrlColor = 4008;
inline constexpr int kTextFont = 1014;
inline constexpr int kTextColor = 1023;

// Demo row.
inline constexpr int kDemo1 = 1028;
inline constexpr int kDemo2 = 1031;
inline constexpr int kDemo3 = 1033;
inline constexpr int kDemoOff = 1032;
inline constexpr int kClear = 4013;

// Transmit and receive.
inline constexpr int kTransmit = 4000;
inline constexpr int kSend = 4001;
inline constexpr int kReceive = 1000;
inline constexpr int kSerialControl = 1008;

// Last row.
inline constexpr int kTouchCalibration = 1026;
inline constexpr int kSetClock = 1034;
inline constexpr int kUnicodeGenerator = 1035;
inline constexpr int kExit = 4014;

// About box.
inline constexpr int kAboutOk = 1;

// Command dialog of the style buttons.
inline constexpr int kCommandDialog = 130;
inline constexpr int kCommandEdit = 1020;
inline constexpr int kCommandOk = 1021;
inline constexpr int kCommandCancel = 1022;

// Unicode generator, top to bottom.
inline constexpr int kUniText = 1101;
inline constexpr int kUniSpace = 1102;
inline constexpr int kUniNoSpace = 1103;
inline constexpr int kUniComma = 1104;
inline constexpr int kUniHyphen = 1105;
inline constexpr int kUniWholeCommand = 1106;
inline constexpr int kUniFontList = 1107;
inline constexpr int kUniOutput = 1108;
inline constexpr int kUniCopy = 1109;

// Items reached by nothing but the layout (labels and the rule).
inline constexpr int kStatic = -1;

} // namespace ids
