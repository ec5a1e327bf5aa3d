// Placeholder of the serial component until the system backends exist: it keeps its
// properties and never opens.
#include "line/serial.h"

#include <mutex>

#include "platform/platform.h"

namespace zk {

bool IsSupportedBaudrate(std::int32_t rate) {
    for (const auto r : kBaudRates)
        if (r == rate) return true;
    return false;
}

std::uint32_t WriteTimeoutMs(std::size_t length, std::int32_t baudrate) {
    const std::uint64_t perChar = baudrate > 0 ? static_cast<std::uint64_t>(20000 / baudrate) : 0;
    const std::uint64_t ms = length * perChar;
    return ms < 500 ? 500u : static_cast<std::uint32_t>(ms);
}

struct TSerial::State {
    mutable std::mutex lock;
    std::uint8_t port = 1;
    SerialSettings settings;
    std::string device;
    std::atomic<std::int32_t> errorCode{0};
    std::atomic<std::uint64_t> generation{0};
};

TSerial::TSerial() : s_(std::make_unique<State>()) {}
TSerial::~TSerial() = default;

std::uint8_t TSerial::Port() const { return s_->port; }
void TSerial::SetPort(std::uint8_t port) { s_->port = port; }
std::int32_t TSerial::Baudrate() const { return s_->settings.Baudrate; }
void TSerial::SetBaudrate(std::int32_t rate) {
    if (IsSupportedBaudrate(rate)) s_->settings.Baudrate = rate;
}
eParity TSerial::Parity() const { return s_->settings.Parity; }
void TSerial::SetParity(eParity parity) { s_->settings.Parity = parity; }
eDataBits TSerial::DataBits() const { return s_->settings.DataBits; }
void TSerial::SetDataBits(eDataBits bits) { s_->settings.DataBits = bits; }
eStopBits TSerial::StopBits() const { return s_->settings.StopBits; }
void TSerial::SetStopBits(eStopBits bits) { s_->settings.StopBits = bits; }
std::uint16_t TSerial::RxQueueSize() const { return s_->settings.RxQueueSize; }
void TSerial::SetRxQueueSize(std::uint16_t size) { s_->settings.RxQueueSize = size; }
std::uint16_t TSerial::TxQueueSize() const { return s_->settings.TxQueueSize; }
void TSerial::SetTxQueueSize(std::uint16_t size) { s_->settings.TxQueueSize = size; }
eFlowControl TSerial::FlowMode() const { return s_->settings.FlowMode; }
void TSerial::SetFlowMode(eFlowControl mode) { s_->settings.FlowMode = mode; }
bool TSerial::CheckParity() const { return s_->settings.CheckParity; }
void TSerial::SetCheckParity(bool check) { s_->settings.CheckParity = check; }
std::string TSerial::DeviceName() const { return s_->device; }
void TSerial::SetDeviceName(const std::string& device) { s_->device = device; }
std::string TSerial::EffectiveDeviceName() const { return s_->device.empty() ? DefaultPortName(s_->port) : s_->device; }

bool TSerial::Active() const { return false; }
void TSerial::SetActive(bool) {}
void TSerial::WriteString(std::string_view) {}
int TSerial::ReadByte(std::uint8_t&) { return 0; }
std::int32_t TSerial::RxWaiting() { return 0; }
std::int32_t TSerial::TxWaiting() { return 0; }
void TSerial::AbortRead() {}
void TSerial::AbortWrite() {}
void TSerial::SetControlLine(int, bool) {}
void TSerial::HandleError(int code) { s_->errorCode = code; }
std::int32_t TSerial::ErrorCode() const { return s_->errorCode; }
std::uint64_t TSerial::Generation() const { return s_->generation; }
SerialSettings TSerial::Settings() const {
    SerialSettings s = s_->settings;
    s.Device = EffectiveDeviceName();
    return s;
}

}  // namespace zk
