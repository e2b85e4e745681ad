// hidapi's C functions, answered by the model instead of a device.

#include "model.h"

#include <algorithm>
#include <chrono>
#include <cstring>

using namespace VirtualMeter;

namespace {

const wchar_t *const NO_DEVICE_TEXT = L"virtual meter: device unplugged";
const wchar_t *const BAD_HANDLE_TEXT = L"virtual meter: handle not open";
const wchar_t *const NO_ERROR_TEXT = L"Success";

// The model's lock for the length of one hid_* call, and its log entry.
class CallScope
{
public:
    CallScope(const char *function, hid_device *handle)
        : m(model())
        , lock(m.mutex)
    {
        call.sequence = m.nextSequence++;
        call.thread = std::this_thread::get_id();
        call.handle = handle;
        call.function = function;
        if (m.callsInside > 0)
            ++m.concurrentCalls;
        ++m.callsInside;
    }

    ~CallScope()
    {
        if (!lock.owns_lock())
            lock.lock();
        --m.callsInside;
        call.simulatedMs = m.clockMs.load();
        m.log.push_back(std::move(call));
        while (m.log.size() > m.logCapacity)
            m.log.pop_front();
    }

    CallScope(const CallScope &) = delete;
    CallScope &operator=(const CallScope &) = delete;

    int finish(int result)
    {
        call.result = result;
        return result;
    }

    // The state of a handle that may be used, or null when the call must
    // fail. Misuse is counted; a handle of an unplugged meter just fails.
    HandleState *usable(bool nullIsHarmless = false)
    {
        if (call.handle == nullptr) {
            if (!nullIsHarmless)
                ++m.unknownHandleCalls;
            return nullptr;
        }
        const auto found = m.handles.find(call.handle);
        if (found == m.handles.end()) {
            ++m.unknownHandleCalls;
            return nullptr;
        }
        if (!found->second.open) {
            ++m.closedHandleCalls;
            return nullptr;
        }
        if (!m.plugged || found->second.plugGeneration != m.plugGeneration)
            return nullptr;
        return &found->second;
    }

    // Waits in real time with the model unlocked, so that calls made
    // meanwhile by other threads are seen (and counted) as concurrent. A
    // close of the handle ends the wait (and a reset, which closes them all).
    void waitUnlocked(int milliseconds, const HandleState &state)
    {
        m.handleGone.wait_for(lock, std::chrono::milliseconds(milliseconds), [&] { return !state.open; });
    }

    Model &m;
    std::unique_lock<std::mutex> lock;
    Call call;
};

// Report number 0, 5 frame bytes: header, frame length 5, then the code.
bool isCommandReport(const unsigned char *data, size_t length)
{
    static const unsigned char prefix[] = {0x00, 0x05, HEADER_0, HEADER_1, 0x05, 0x00};
    return data != nullptr && length == 7 && std::equal(std::begin(prefix), std::end(prefix), data);
}

Fault takeFault(Model &m, unsigned char code)
{
    auto once = m.nextFaults.find(code);
    if (once != m.nextFaults.end() && !once->second.empty()) {
        Fault fault = once->second.front();
        once->second.pop_front();
        return fault;
    }
    const auto always = m.persistentFaults.find(code);
    return always != m.persistentFaults.end() ? always->second : Fault{};
}

// A test's hook, called outside the model's mutex so that it may use the
// control functions.
template <typename Hook, typename... Args>
void callHook(Hook Model::*which, Args... args)
{
    Hook hook;
    {
        std::lock_guard<std::mutex> lock(model().mutex);
        hook = model().*which;
    }
    if (hook)
        hook(args...);
}

bool matchesMeter(unsigned short vendorId, unsigned short productId)
{
    return (vendorId == 0 || vendorId == VENDOR_ID) && (productId == 0 || productId == PRODUCT_ID);
}

char DEVICE_PATH[] = "virtual-meter";
wchar_t SERIAL_TEXT[] = L"VM0001";
wchar_t MANUFACTURER_TEXT[] = L"Zelmora virtual meter";
wchar_t PRODUCT_TEXT[] = L"Micro-ohm meter";

void describeMeter(hid_device_info &info)
{
    info = hid_device_info{};
    info.path = DEVICE_PATH;
    info.vendor_id = VENDOR_ID;
    info.product_id = PRODUCT_ID;
    info.serial_number = SERIAL_TEXT;
    info.release_number = 0x0100;
    info.manufacturer_string = MANUFACTURER_TEXT;
    info.product_string = PRODUCT_TEXT;
    info.interface_number = 0;
    info.bus_type = HID_API_BUS_USB;
    info.next = nullptr;
}

hid_device *openMeter(CallScope &scope)
{
    Model &m = scope.m;
    if (!m.plugged)
        return nullptr;
    m.handleStorage.push_back(std::make_unique<hid_device_>());
    hid_device *handle = m.handleStorage.back().get();
    handle->id = static_cast<int>(m.handleStorage.size());
    HandleState state;
    state.plugGeneration = m.plugGeneration;
    m.handles[handle] = state;
    scope.call.handle = handle;
    return handle;
}

int copyWide(const wchar_t *text, wchar_t *string, size_t maxlen)
{
    if (string == nullptr || maxlen == 0)
        return -1;
    std::wcsncpy(string, text, maxlen);
    string[maxlen - 1] = L'\0';
    return 0;
}

int takeWrite(hid_device *dev, const unsigned char *data, size_t length, bool command)
{
    CallScope scope("hid_write", dev);
    scope.call.length = length;
    if (data != nullptr)
        scope.call.bytes.assign(data, data + length);
    HandleState *state = scope.usable();
    if (state == nullptr || data == nullptr)
        return scope.finish(-1);
    if (!command)
        return scope.finish(static_cast<int>(length)); // the firmware ignores it

    Model &m = scope.m;
    const unsigned char code = data[6];
    ++m.writes[code];
    if (!state->exchange.pending.empty())
        ++m.interleavedCommands;
    Exchange reply = buildReply(code, m.meter, takeFault(m, code));
    // Unread replies stay ahead of the new ones, as in the kernel's queue.
    reply.pending.insert(reply.pending.begin(), state->exchange.pending.begin(), state->exchange.pending.end());
    state->exchange = std::move(reply);
    return scope.finish(static_cast<int>(length));
}

} // namespace

extern "C" {

int HID_API_EXPORT HID_API_CALL hid_init(void)
{
    CallScope scope("hid_init", nullptr);
    return scope.finish(0);
}

int HID_API_EXPORT HID_API_CALL hid_exit(void)
{
    CallScope scope("hid_exit", nullptr);
    return scope.finish(0);
}

struct hid_device_info HID_API_EXPORT *HID_API_CALL hid_enumerate(unsigned short vendor_id,
                                                                  unsigned short product_id)
{
    CallScope scope("hid_enumerate", nullptr);
    if (!scope.m.plugged || !matchesMeter(vendor_id, product_id)) {
        scope.finish(0);
        return nullptr;
    }
    auto *info = new hid_device_info;
    describeMeter(*info);
    scope.finish(1);
    return info;
}

void HID_API_EXPORT HID_API_CALL hid_free_enumeration(struct hid_device_info *devs)
{
    while (devs != nullptr) {
        hid_device_info *next = devs->next;
        delete devs;
        devs = next;
    }
}

HID_API_EXPORT hid_device *HID_API_CALL hid_open(unsigned short vendor_id, unsigned short product_id,
                                                 const wchar_t *serial_number)
{
    CallScope scope("hid_open", nullptr);
    if (!matchesMeter(vendor_id, product_id)
        || (serial_number != nullptr && std::wcscmp(serial_number, SERIAL_TEXT) != 0)) {
        scope.finish(0);
        return nullptr;
    }
    hid_device *handle = openMeter(scope);
    scope.finish(handle != nullptr ? 1 : 0);
    return handle;
}

HID_API_EXPORT hid_device *HID_API_CALL hid_open_path(const char *path)
{
    CallScope scope("hid_open_path", nullptr);
    if (path == nullptr || std::strcmp(path, DEVICE_PATH) != 0) {
        scope.finish(0);
        return nullptr;
    }
    hid_device *handle = openMeter(scope);
    scope.finish(handle != nullptr ? 1 : 0);
    return handle;
}

int HID_API_EXPORT HID_API_CALL hid_write(hid_device *dev, const unsigned char *data, size_t length)
{
    const bool command = isCommandReport(data, length);
    if (command && data[6] == GET_READING)
        callHook(&Model::readingProvider);
    const int written = takeWrite(dev, data, length, command);
    if (command && written > 0)
        callHook(&Model::commandTaken, data[6]);
    return written;
}

int HID_API_EXPORT HID_API_CALL hid_read_timeout(hid_device *dev, unsigned char *data, size_t length,
                                                 int milliseconds)
{
    CallScope scope("hid_read_timeout", dev);
    scope.call.length = length;
    scope.call.timeoutMs = milliseconds;
    HandleState *state = scope.usable();
    if (state == nullptr || data == nullptr)
        return scope.finish(-1);
    Model &m = scope.m;
    // Negative means wait for ever; the model cannot, it times out at once.
    const int wait = std::max(milliseconds, 0);

    Exchange &exchange = state->exchange;
    if (exchange.errorReads)
        return scope.finish(-1);
    if (exchange.slowMs > 0 && !exchange.pending.empty()) {
        const int delay = exchange.slowMs;
        exchange.slowMs = 0;
        const bool lost = milliseconds >= 0 && delay > milliseconds;
        const int waited = lost ? wait : delay;
        scope.waitUnlocked(waited, *state);
        m.clockMs += waited;
        if (!state->open) {
            // Closed by another thread while this read was waiting: in hidapi
            // this read would now be using freed memory.
            ++m.closedHandleCalls;
            return scope.finish(-1);
        }
        if (lost) {
            exchange.pending.clear();
            return scope.finish(0);
        }
    }
    if (exchange.pending.empty() || exchange.stallAt == exchange.delivered) {
        if (!exchange.pending.empty())
            exchange.stallAt = -1;
        m.clockMs += wait;
        return scope.finish(0);
    }

    const Report report = exchange.pending.front();
    exchange.pending.pop_front();
    ++exchange.delivered;
    const std::size_t delivered = std::min(length, report.length);
    std::memcpy(data, report.bytes.data(), delivered);
    scope.call.bytes.assign(data, data + delivered);
    return scope.finish(static_cast<int>(delivered));
}

int HID_API_EXPORT HID_API_CALL hid_read(hid_device *dev, unsigned char *data, size_t length)
{
    int timeout = -1;
    {
        std::lock_guard<std::mutex> lock(model().mutex);
        const auto found = model().handles.find(dev);
        if (found != model().handles.end() && found->second.nonblocking)
            timeout = 0;
    }
    return hid_read_timeout(dev, data, length, timeout);
}

int HID_API_EXPORT HID_API_CALL hid_set_nonblocking(hid_device *dev, int nonblock)
{
    CallScope scope("hid_set_nonblocking", dev);
    scope.call.length = static_cast<std::size_t>(nonblock);
    HandleState *state = scope.usable();
    if (state == nullptr)
        return scope.finish(-1);
    state->nonblocking = nonblock != 0;
    return scope.finish(0);
}

int HID_API_EXPORT HID_API_CALL hid_send_feature_report(hid_device *dev, const unsigned char *, size_t length)
{
    // The meter has no feature reports.
    CallScope scope("hid_send_feature_report", dev);
    scope.call.length = length;
    scope.usable();
    return scope.finish(-1);
}

int HID_API_EXPORT HID_API_CALL hid_get_feature_report(hid_device *dev, unsigned char *, size_t length)
{
    CallScope scope("hid_get_feature_report", dev);
    scope.call.length = length;
    scope.usable();
    return scope.finish(-1);
}

int HID_API_EXPORT HID_API_CALL hid_get_input_report(hid_device *dev, unsigned char *, size_t length)
{
    CallScope scope("hid_get_input_report", dev);
    scope.call.length = length;
    scope.usable();
    return scope.finish(-1);
}

void HID_API_EXPORT HID_API_CALL hid_close(hid_device *dev)
{
    CallScope scope("hid_close", dev);
    // hidapi ignores a null handle; any other unusable one would be freed twice.
    if (dev == nullptr) {
        scope.finish(0);
        return;
    }
    const auto found = scope.m.handles.find(dev);
    if (found == scope.m.handles.end()) {
        ++scope.m.unknownHandleCalls;
        scope.finish(-1);
        return;
    }
    if (!found->second.open) {
        ++scope.m.closedHandleCalls;
        scope.finish(-1);
        return;
    }
    found->second.open = false;
    found->second.exchange = Exchange{};
    scope.m.handleGone.notify_all();
    scope.finish(0);
}

int HID_API_EXPORT_CALL hid_get_manufacturer_string(hid_device *dev, wchar_t *string, size_t maxlen)
{
    CallScope scope("hid_get_manufacturer_string", dev);
    return scope.finish(scope.usable() ? copyWide(MANUFACTURER_TEXT, string, maxlen) : -1);
}

int HID_API_EXPORT_CALL hid_get_product_string(hid_device *dev, wchar_t *string, size_t maxlen)
{
    CallScope scope("hid_get_product_string", dev);
    return scope.finish(scope.usable() ? copyWide(PRODUCT_TEXT, string, maxlen) : -1);
}

int HID_API_EXPORT_CALL hid_get_serial_number_string(hid_device *dev, wchar_t *string, size_t maxlen)
{
    CallScope scope("hid_get_serial_number_string", dev);
    return scope.finish(scope.usable() ? copyWide(SERIAL_TEXT, string, maxlen) : -1);
}

struct hid_device_info HID_API_EXPORT *HID_API_CALL hid_get_device_info(hid_device *dev)
{
    static hid_device_info info;
    CallScope scope("hid_get_device_info", dev);
    if (scope.usable() == nullptr) {
        scope.finish(0);
        return nullptr;
    }
    describeMeter(info);
    scope.finish(1);
    return &info;
}

int HID_API_EXPORT_CALL hid_get_indexed_string(hid_device *dev, int, wchar_t *, size_t)
{
    CallScope scope("hid_get_indexed_string", dev);
    scope.usable();
    return scope.finish(-1);
}

HID_API_EXPORT const wchar_t *HID_API_CALL hid_error(hid_device *dev)
{
    CallScope scope("hid_error", dev);
    // hid_error(null) asks for the library's last error, which is legitimate.
    if (dev == nullptr)
        return scope.m.plugged ? NO_ERROR_TEXT : NO_DEVICE_TEXT;
    if (scope.usable() == nullptr)
        return scope.m.plugged ? BAD_HANDLE_TEXT : NO_DEVICE_TEXT;
    return NO_ERROR_TEXT;
}

HID_API_EXPORT const struct hid_api_version *HID_API_CALL hid_version(void)
{
    static const hid_api_version version{HID_API_VERSION_MAJOR, HID_API_VERSION_MINOR, HID_API_VERSION_PATCH};
    return &version;
}

HID_API_EXPORT const char *HID_API_CALL hid_version_str(void)
{
    return HID_API_VERSION_STR;
}

} // extern "C"
