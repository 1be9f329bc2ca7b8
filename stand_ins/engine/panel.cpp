#include "stand_ins/engine/panel.h"

#include <vector>

#include "stand_ins/engine/wide_text.h"

namespace stand_in {
namespace {

constexpr int kConnectId = 101;
constexpr int kDisconnectId = 102;
constexpr int kConfigId = 103;
constexpr int kMargin = 16;
constexpr int kButtonWidth = 120;
constexpr int kButtonHeight = 32;
constexpr int kTitleHeight = 40;
constexpr int kStageHeight = 32;

constexpr char kChannel[] = "varn/wintunnel";
constexpr char kSampleConfig[] =
    "[Interface]\r\n"
    "PrivateKey = wi6g2mzQL+sL/H5fZPLJvRMgTZyGj0PaAVNvjsY7eaQ=\r\n"
    "Address = 10.7.0.2/32\r\n"
    "DNS = 10.7.0.1\r\n"
    "\r\n"
    "[Peer]\r\n"
    "PublicKey = NQJXSZIRCp/2+hl5IaUqx3uWjTllEx9iC0t3P0iXqAU=\r\n"
    "AllowedIPs = 0.0.0.0/0\r\n"
    "Endpoint = 192.0.2.1:51820\r\n";

HFONT MakeFont(int height, int weight) {
  return CreateFontW(-height, 0, 0, 0, weight, FALSE, FALSE, FALSE,
                     DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS,
                     DEFAULT_QUALITY, DEFAULT_PITCH | FF_SWISS, L"Tahoma");
}

HWND MakeControl(const wchar_t* window_class, const wchar_t* text, DWORD style,
                 HWND parent, int id) {
  return CreateWindowExW(
      0, window_class, text, WS_CHILD | WS_VISIBLE | style, 0, 0, 10, 10,
      parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
      reinterpret_cast<HINSTANCE>(GetWindowLongPtrW(parent, GWLP_HINSTANCE)),
      nullptr);
}

// Edit controls want CR LF; channel texts use LF.
std::string ToWindowsLines(const std::string& text) {
  std::string out;
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '\n' && (i == 0 || text[i - 1] != '\r')) out += '\r';
    out += text[i];
  }
  return out;
}

std::string FromWindowsLines(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c != '\r') out += c;
  }
  return out;
}

}  // namespace

Panel::Panel(HWND view, UiCaller* caller)
    : view_(view),
      caller_(caller),
      font_(MakeFont(15, FW_NORMAL)),
      title_font_(MakeFont(22, FW_BOLD)),
      connect_button_(
          MakeControl(L"BUTTON", L"Connect", BS_PUSHBUTTON, view, kConnectId)),
      disconnect_button_(MakeControl(L"BUTTON", L"Disconnect", BS_PUSHBUTTON,
                                     view, kDisconnectId)),
      config_edit_(MakeControl(L"EDIT", L"",
                               WS_BORDER | WS_VSCROLL | ES_MULTILINE |
                                   ES_AUTOVSCROLL | ES_WANTRETURN,
                               view, kConfigId)) {
  for (HWND control :
       {connect_button_.Get(), disconnect_button_.Get(), config_edit_.Get()}) {
    if (control != nullptr) {
      SendMessageW(control, WM_SETFONT, reinterpret_cast<WPARAM>(font_.Get()),
                   FALSE);
    }
  }
  SetConfig(kSampleConfig);
  RECT client{};
  GetClientRect(view_, &client);
  Layout(client.right, client.bottom);
}

Panel::~Panel() = default;

void Panel::Layout(int width, int height) {
  int y = kMargin + kTitleHeight + kStageHeight;
  MoveWindow(connect_button_.Get(), kMargin, y, kButtonWidth, kButtonHeight,
             TRUE);
  MoveWindow(disconnect_button_.Get(), kMargin * 2 + kButtonWidth, y,
             kButtonWidth, kButtonHeight, TRUE);
  y += kButtonHeight + kMargin;
  const int edit_width = width - 2 * kMargin;
  const int edit_height = height - y - kMargin;
  MoveWindow(config_edit_.Get(), kMargin, y, edit_width > 0 ? edit_width : 0,
             edit_height > 0 ? edit_height : 0, TRUE);
}

void Panel::Paint(HDC dc) {
  SetBkMode(dc, TRANSPARENT);
  {
    ScopedSelectObject select(dc, title_font_.Get());
    SetTextColor(dc, RGB(0x20, 0x30, 0x60));
    RECT title{kMargin, kMargin, 2000, kMargin + kTitleHeight};
    DrawTextW(dc, L"Varn VPN", -1, &title, DT_LEFT | DT_SINGLELINE);
  }
  ScopedSelectObject select(dc, font_.Get());
  const bool connected = stage_ == "connected";
  SetTextColor(dc, connected ? RGB(0x10, 0x80, 0x30) : RGB(0x40, 0x40, 0x40));
  const std::wstring line = L"Stage: " + Utf8ToWide(stage_);
  RECT stage{kMargin, kMargin + kTitleHeight, 2000,
             kMargin + kTitleHeight + kStageHeight};
  DrawTextW(dc, line.c_str(), -1, &stage, DT_LEFT | DT_SINGLELINE);
}

bool Panel::OnCommand(WPARAM wparam) {
  if (HIWORD(wparam) != BN_CLICKED) return false;
  switch (LOWORD(wparam)) {
    case kConnectId:
      Connect();
      return true;
    case kDisconnectId:
      Disconnect();
      return true;
    default:
      return false;
  }
}

void Panel::SetStage(const std::string& stage) {
  if (stage == stage_) return;
  stage_ = stage;
  InvalidateRect(view_, nullptr, TRUE);
}

void Panel::SetConfig(const std::string& config) {
  const std::wstring text = Utf8ToWide(ToWindowsLines(config));
  SetWindowTextW(config_edit_.Get(), text.c_str());
}

void Panel::RequestStage() {
  caller_->Call(kChannel, "stage", flutter::EncodableValue(), "panel");
}

void Panel::Connect() {
  const int length = GetWindowTextLengthW(config_edit_.Get());
  std::vector<wchar_t> buffer(static_cast<size_t>(length) + 1);
  GetWindowTextW(config_edit_.Get(), buffer.data(), length + 1);
  const std::string config =
      FromWindowsLines(WideToUtf8(std::wstring(buffer.data())));
  flutter::ValueMap arguments{
      {flutter::EncodableValue("config"), flutter::EncodableValue(config)}};
  UiCaller* caller = caller_;
  caller_->Call(kChannel, "connect", flutter::EncodableValue(arguments),
                "panel", [caller](const CallOutcome&) {
                  caller->Call(kChannel, "stage", flutter::EncodableValue(),
                               "panel");
                });
}

void Panel::Disconnect() {
  UiCaller* caller = caller_;
  caller_->Call(kChannel, "disconnect", flutter::EncodableValue(), "panel",
                [caller](const CallOutcome&) {
                  caller->Call(kChannel, "stage", flutter::EncodableValue(),
                               "panel");
                });
}

}  // namespace stand_in
