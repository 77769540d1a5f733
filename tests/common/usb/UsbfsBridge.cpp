// usbfs as the kernel answers it. URBs complete at once unless the device's script keeps them
// silent; a completed URB waits in its file's queue until the host reaps it. The node is a plain
// file under umockdev, so poll() never blocks and libusb reaps in a loop: every answer must be
// ready by the time the submit returns, or arrive through a discard or an unplug.
#include "UsbfsBridge.h"

#include <umockdev.h>

#include <sys/ioctl.h>
#include <linux/usbdevice_fs.h>
#include <sys/stat.h>

#include <cerrno>
#include <array>
#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <stdexcept>

namespace {

// One URB the host submitted: its memory in the client, kept until reaped.
struct Urb {
    UMockdevIoctlData *urb = nullptr;
    UMockdevIoctlData *buffer = nullptr;
    UMockdevIoctlClient *client = nullptr;

    usbdevfs_urb *fields() const { return reinterpret_cast<usbdevfs_urb *>(urb->data); }
    void release()
    {
        if (buffer)
            g_object_unref(buffer);
        if (urb)
            g_object_unref(urb);
        urb = buffer = nullptr;
    }
};

// Result of one request: bytes moved, or a negative errno.
struct Answer {
    int status = 0;
    std::size_t actual = 0;
    bool silent = false;
};

std::string threeDigits(int n)
{
    char text[8];
    std::snprintf(text, sizeof text, "%03d", n);
    return text;
}

} // namespace

struct UsbfsBridge::Node {
    int address = 0;
    uint8_t port = 0;
    std::string sysfsPath;
    std::string nodePath;
    std::string filePath;   // the node's file inside the test bed
    DeviceDescriptors descriptors;
    std::shared_ptr<usb::VirtualDevice> device;
    UMockdevIoctlBase *handler = nullptr;

    mutable std::mutex mutex;
    Script script;
    bool gone = false;
    std::vector<Request> log;
    int opens = 0;
    int ioctls = 0;
    int discarded = 0;
    std::map<unsigned, UMockdevIoctlClient *> claims;
    std::vector<Urb> pending;
    std::map<UMockdevIoctlClient *, std::deque<Urb>> completed;

    bool hasInterface(unsigned number) const
    {
        const std::vector<uint8_t> &c = descriptors.configuration;
        for (std::size_t pos = 0; pos + 2 < c.size() && c[pos] >= 2; pos += c[pos]) {
            if (c[pos + 1] == 0x04 && pos + 2 < c.size() && c[pos + 2] == number)
                return true;
        }
        return false;
    }

    // Standard descriptors and the firmware's own vendor replies first, then the virtual device.
    Answer answerControl(const usb::SetupPacket &setup, uint8_t *data)
    {
        const auto reply = [&setup, data](const std::vector<uint8_t> &bytes) {
            const std::size_t n = std::min<std::size_t>(bytes.size(), setup.length);
            std::memcpy(data, bytes.data(), n);
            return Answer{0, n};
        };
        const Answer stall{-EPIPE, 0};
        if ((setup.requestType & 0x60) == 0) {   // standard
            if (setup.requestType == 0x80 && setup.request == 0x06) {
                const uint8_t type = setup.value >> 8, index = setup.value & 0xFF;
                if (type == 0x01)
                    return reply(descriptors.device);
                if (type == 0x02 && index == 0)
                    return reply(descriptors.configuration);
                if (type == 0x0F && !descriptors.bos.empty())
                    return reply(descriptors.bos);
                const auto string = descriptors.strings.find(index);
                if (type == 0x03 && string != descriptors.strings.end())
                    return reply(string->second);
                return stall;
            }
            return setup.isIn() ? stall : Answer{0, 0};
        }
        for (const DeviceDescriptors::VendorReply &vendor : descriptors.vendorReplies) {
            if (vendor.requestType == setup.requestType && vendor.request == setup.request &&
                vendor.index == setup.index)
                return reply(vendor.bytes);
        }
        if (!device)
            return stall;
        const usb::Transfer transfer = device->control(setup, data);
        switch (transfer.outcome) {
        case usb::Outcome::Ok: return Answer{0, std::min<std::size_t>(transfer.transferred, setup.length)};
        case usb::Outcome::Timeout: return Answer{0, 0, true};
        case usb::Outcome::NoDevice: return Answer{-ESHUTDOWN, 0};
        case usb::Outcome::IoError: break;
        }
        return stall;
    }

    Answer answerBulk(uint8_t endpoint, uint8_t *data, std::size_t length)
    {
        if ((endpoint & 0x80) == 0 || !device)
            return Answer{-EPIPE, 0};
        const usb::Transfer transfer = device->bulkRead(endpoint, data, length);
        switch (transfer.outcome) {
        case usb::Outcome::Ok: return Answer{0, std::min(transfer.transferred, length)};
        case usb::Outcome::Timeout: return Answer{0, 0, true};
        case usb::Outcome::NoDevice: return Answer{-ESHUTDOWN, 0};
        case usb::Outcome::IoError: break;
        }
        return Answer{-EPIPE, 0};
    }

    // Logs the request, runs the script, then answers it.
    Answer answer(Request request, uint8_t *data, std::size_t length)
    {
        if (request.control && !request.setup.isIn())
            request.out.assign(data, data + request.setup.length);
        log.push_back(request);
        const Action action = script ? script(request) : Action::Answer;
        if (action == Action::Stall)
            return Answer{-EPIPE, 0};
        if (action == Action::Silent)
            return Answer{0, 0, true};
        return request.control ? answerControl(request.setup, data) : answerBulk(request.endpoint, data, length);
    }

    static void finish(Urb &urb, int status, std::size_t actual)
    {
        urb.fields()->status = status;
        urb.fields()->actual_length = static_cast<int>(actual);
    }

    void submit(UMockdevIoctlClient *client, UMockdevIoctlData *arg)
    {
        Urb urb;
        urb.client = client;
        urb.urb = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), nullptr);
        if (!urb.urb) {
            umockdev_ioctl_client_complete(client, -1, EFAULT);
            return;
        }
        usbdevfs_urb *fields = urb.fields();
        const int length = fields->buffer_length;
        if (length > 0)
            urb.buffer = umockdev_ioctl_data_resolve(urb.urb, offsetof(usbdevfs_urb, buffer),
                                                     static_cast<gsize>(length), nullptr);
        uint8_t *bytes = urb.buffer ? urb.buffer->data : nullptr;

        Request request;
        int error = 0;
        if (fields->type == USBDEVFS_URB_TYPE_CONTROL) {
            std::array<uint8_t, 8> setup{};
            if (length < 8 || !bytes) {
                error = EINVAL;
            } else {
                std::memcpy(setup.data(), bytes, 8);
                request.setup = usb::SetupPacket::fromBytes(setup);
                if (request.setup.length > length - 8)
                    error = EINVAL;
            }
        } else if (fields->type == USBDEVFS_URB_TYPE_BULK) {
            request.control = false;
            request.endpoint = fields->endpoint;
        } else {
            error = EINVAL;
        }
        if (error != 0) {
            urb.release();
            umockdev_ioctl_client_complete(client, -1, error);
            return;
        }

        const Answer answered = request.control ? answer(request, bytes + 8, request.setup.length)
                                                : answer(request, bytes, static_cast<std::size_t>(length));
        if (answered.silent) {
            pending.push_back(urb);
        } else {
            finish(urb, answered.status, answered.actual);
            completed[client].push_back(urb);
        }
        umockdev_ioctl_client_complete(client, 0, 0);
    }

    void reap(UMockdevIoctlClient *client, UMockdevIoctlData *arg)
    {
        std::deque<Urb> &queue = completed[client];
        if (queue.empty()) {
            umockdev_ioctl_client_complete(client, -1, gone ? ENODEV : EAGAIN);
            return;
        }
        Urb urb = queue.front();
        queue.pop_front();
        UMockdevIoctlData *pointer = umockdev_ioctl_data_resolve(arg, 0, sizeof(void *), nullptr);
        if (!pointer) {
            urb.release();
            umockdev_ioctl_client_complete(client, -1, EFAULT);
            return;
        }
        // Points the host's pointer at its own URB, and syncs the URB's status, length and data.
        umockdev_ioctl_data_set_ptr(pointer, 0, urb.urb);
        umockdev_ioctl_client_complete(client, 0, 0);
        g_object_unref(pointer);
        urb.release();
    }

    void discard(UMockdevIoctlClient *client, UMockdevIoctlData *arg)
    {
        unsigned long address = 0;
        std::memcpy(&address, arg->data, sizeof address);
        for (auto it = pending.begin(); it != pending.end(); ++it) {
            if (it->client == client && it->urb->client_addr == address) {
                finish(*it, -ENOENT, 0);
                completed[client].push_back(*it);
                pending.erase(it);
                ++discarded;
                umockdev_ioctl_client_complete(client, 0, 0);
                return;
            }
        }
        umockdev_ioctl_client_complete(client, -1, EINVAL);
    }

    void claim(UMockdevIoctlClient *client, unsigned number)
    {
        if (!hasInterface(number)) {
            umockdev_ioctl_client_complete(client, -1, ENOENT);
            return;
        }
        const auto claimed = claims.find(number);
        if (claimed != claims.end() && claimed->second != client) {
            umockdev_ioctl_client_complete(client, -1, EBUSY);
            return;
        }
        claims[number] = client;
        umockdev_ioctl_client_complete(client, 0, 0);
    }

    // USBDEVFS_CONTROL: a synchronous control transfer, as the udev helper sends them.
    void control(UMockdevIoctlClient *client, UMockdevIoctlData *arg)
    {
        UMockdevIoctlData *transfer = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_ctrltransfer), nullptr);
        if (!transfer) {
            umockdev_ioctl_client_complete(client, -1, EFAULT);
            return;
        }
        const auto *fields = reinterpret_cast<const usbdevfs_ctrltransfer *>(transfer->data);
        Request request;
        request.setup.requestType = fields->bRequestType;
        request.setup.request = fields->bRequest;
        request.setup.value = fields->wValue;
        request.setup.index = fields->wIndex;
        request.setup.length = fields->wLength;
        UMockdevIoctlData *data = nullptr;
        if (request.setup.length > 0)
            data = umockdev_ioctl_data_resolve(transfer, offsetof(usbdevfs_ctrltransfer, data), request.setup.length,
                                               nullptr);
        if (request.setup.length > 0 && !data) {
            g_object_unref(transfer);
            umockdev_ioctl_client_complete(client, -1, EFAULT);
            return;
        }
        const Answer answered = answer(request, data ? data->data : nullptr, request.setup.length);
        if (answered.silent)
            umockdev_ioctl_client_complete(client, -1, ETIMEDOUT);
        else if (answered.status < 0)
            umockdev_ioctl_client_complete(client, -1, -answered.status);
        else
            umockdev_ioctl_client_complete(client, static_cast<glong>(answered.actual), 0);
        if (data)
            g_object_unref(data);
        g_object_unref(transfer);
    }

    void handle(UMockdevIoctlClient *client)
    {
        const gulong request = umockdev_ioctl_client_get_request(client);
        UMockdevIoctlData *arg = umockdev_ioctl_client_get_arg(client);
        std::lock_guard<std::mutex> lock(mutex);
        ++ioctls;
        if (request == USBDEVFS_REAPURBNDELAY || request == USBDEVFS_REAPURB)
            return reap(client, arg);
        if (gone)
            return umockdev_ioctl_client_complete(client, -1, ENODEV);
        switch (request) {
        case USBDEVFS_GET_CAPABILITIES: {
            UMockdevIoctlData *caps = umockdev_ioctl_data_resolve(arg, 0, sizeof(guint32), nullptr);
            const guint32 value = USBDEVFS_CAP_BULK_CONTINUATION | USBDEVFS_CAP_NO_PACKET_SIZE_LIM |
                                  USBDEVFS_CAP_REAP_AFTER_DISCONNECT;
            std::memcpy(caps->data, &value, sizeof value);
            umockdev_ioctl_client_complete(client, 0, 0);
            g_object_unref(caps);
            return;
        }
        case USBDEVFS_SUBMITURB:
            return submit(client, arg);
        case USBDEVFS_DISCARDURB:
            return discard(client, arg);
        case USBDEVFS_CLAIMINTERFACE:
        case USBDEVFS_RELEASEINTERFACE: {
            UMockdevIoctlData *number = umockdev_ioctl_data_resolve(arg, 0, sizeof(unsigned), nullptr);
            unsigned value = 0;
            std::memcpy(&value, number->data, sizeof value);
            g_object_unref(number);
            if (request == USBDEVFS_CLAIMINTERFACE)
                return claim(client, value);
            const auto claimed = claims.find(value);
            if (claimed == claims.end() || claimed->second != client)
                return umockdev_ioctl_client_complete(client, -1, EINVAL);
            claims.erase(claimed);
            return umockdev_ioctl_client_complete(client, 0, 0);
        }
        case USBDEVFS_DISCONNECT_CLAIM: {
            UMockdevIoctlData *dc = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_disconnect_claim), nullptr);
            const unsigned number = reinterpret_cast<const usbdevfs_disconnect_claim *>(dc->data)->interface;
            g_object_unref(dc);
            return claim(client, number);   // no kernel driver is ever bound to a kit interface
        }
        case USBDEVFS_IOCTL: {
            UMockdevIoctlData *command = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_ioctl), nullptr);
            const int code = reinterpret_cast<const usbdevfs_ioctl *>(command->data)->ioctl_code;
            g_object_unref(command);
            // No driver to disconnect; reconnecting one finds none to bind.
            return umockdev_ioctl_client_complete(client, code == USBDEVFS_DISCONNECT ? -1 : 0,
                                                  code == USBDEVFS_DISCONNECT ? ENODATA : 0);
        }
        case USBDEVFS_GETDRIVER:
            return umockdev_ioctl_client_complete(client, -1, ENODATA);
        case USBDEVFS_CONTROL:
            return control(client, arg);
        case USBDEVFS_SETINTERFACE:
        case USBDEVFS_SETCONFIGURATION:
        case USBDEVFS_CLEAR_HALT:
        case USBDEVFS_RESETEP:
        case USBDEVFS_RESET:
            return umockdev_ioctl_client_complete(client, 0, 0);
        default:
            return umockdev_ioctl_client_complete(client, -1, ENOTTY);
        }
    }

    // A closed file gives up its claims and its URBs.
    void vanished(UMockdevIoctlClient *client)
    {
        std::lock_guard<std::mutex> lock(mutex);
        for (auto it = claims.begin(); it != claims.end();)
            it = it->second == client ? claims.erase(it) : std::next(it);
        for (auto it = pending.begin(); it != pending.end();) {
            if (it->client == client) {
                it->release();
                it = pending.erase(it);
            } else {
                ++it;
            }
        }
        const auto queue = completed.find(client);
        if (queue != completed.end()) {
            for (Urb &urb : queue->second)
                urb.release();
            completed.erase(queue);
        }
    }

    void unplugged()
    {
        std::lock_guard<std::mutex> lock(mutex);
        gone = true;
        for (Urb &urb : pending) {
            finish(urb, -ESHUTDOWN, 0);
            completed[urb.client].push_back(urb);
        }
        pending.clear();
    }

    ~Node()
    {
        for (Urb &urb : pending)
            urb.release();
        for (auto &queue : completed) {
            for (Urb &urb : queue.second)
                urb.release();
        }
    }
};

namespace {

gboolean onIoctl(UMockdevIoctlBase *, UMockdevIoctlClient *client, gpointer node)
{
    static_cast<UsbfsBridge::Node *>(node)->handle(client);
    return TRUE;
}

void onConnected(UMockdevIoctlBase *, UMockdevIoctlClient *, gpointer node)
{
    auto *n = static_cast<UsbfsBridge::Node *>(node);
    std::lock_guard<std::mutex> lock(n->mutex);
    ++n->opens;
}

void onVanished(UMockdevIoctlBase *, UMockdevIoctlClient *client, gpointer node)
{
    static_cast<UsbfsBridge::Node *>(node)->vanished(client);
}

std::string hex(const std::vector<uint8_t> &bytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (uint8_t b : bytes) {
        text += digits[b >> 4];
        text += digits[b & 15];
    }
    return text;
}

} // namespace

bool UsbfsBridge::preloaded()
{
    const char *preload = std::getenv("LD_PRELOAD");
    return preload && std::strstr(preload, "libumockdev-preload");
}

UsbfsBridge::UsbfsBridge() : testbed_(umockdev_testbed_new())
{
    // The root hub of bus 1: a hub, so the backend never asks it anything.
    const std::vector<uint8_t> hubDevice = kitdescriptors::deviceDescriptor(0x0200, 0x09, 0x1D6B, 0x0002);
    const std::vector<uint8_t> hubConfig = kitdescriptors::configuration(0x09, {{usb::PipeType::Interrupt, 0x81, 4}});
    const std::string record = "P: /devices/usb1\nN: bus/usb/001/001\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\n"
                               "E: DEVNAME=/dev/bus/usb/001/001\nE: BUSNUM=001\nE: DEVNUM=001\n"
                               "A: busnum=1\\n\nA: devnum=1\\n\nA: bConfigurationValue=1\\n\nA: speed=480\\n\n"
                               "H: descriptors=" + hex(hubDevice) + hex(hubConfig) + "\n";
    GError *error = nullptr;
    if (!umockdev_testbed_add_from_string(testbed_, record.c_str(), &error)) {
        const std::string message = error->message;
        g_error_free(error);
        throw std::runtime_error("umockdev: " + message);
    }
}

UsbfsBridge::~UsbfsBridge()
{
    for (auto &[address, node] : nodes_) {
        umockdev_testbed_detach_ioctl(testbed_, node->nodePath.c_str(), nullptr);
        g_signal_handlers_disconnect_by_data(node->handler, node.get());
        g_object_unref(node->handler);
    }
    g_object_unref(testbed_);
}

int UsbfsBridge::plug(uint8_t port, DeviceDescriptors descriptors, std::shared_ptr<usb::VirtualDevice> device)
{
    auto node = std::make_unique<Node>();
    node->address = nextAddress_++;
    node->port = port;
    node->sysfsPath = "/sys/devices/usb1/1-" + std::to_string(port);
    node->nodePath = "/dev/bus/usb/001/" + threeDigits(node->address);
    node->descriptors = std::move(descriptors);
    node->device = std::move(device);
    gchar *root = umockdev_testbed_get_root_dir(testbed_);
    node->filePath = std::string(root) + node->nodePath;
    g_free(root);

    // The handler first, so that the node answers as soon as the device appears.
    node->handler = umockdev_ioctl_base_new();
    g_signal_connect(node->handler, "handle-ioctl", G_CALLBACK(onIoctl), node.get());
    g_signal_connect(node->handler, "client-connected", G_CALLBACK(onConnected), node.get());
    g_signal_connect(node->handler, "client-vanished", G_CALLBACK(onVanished), node.get());
    GError *error = nullptr;
    if (!umockdev_testbed_attach_ioctl(testbed_, node->nodePath.c_str(), node->handler, &error)) {
        const std::string message = error->message;
        g_error_free(error);
        throw std::runtime_error("umockdev: " + message);
    }

    const std::string number = std::to_string(node->address);
    const std::string record =
        "P: /devices/usb1/1-" + std::to_string(port) + "\nN: bus/usb/001/" + threeDigits(node->address) +
        "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: DEVNAME=" + node->nodePath + "\nE: BUSNUM=001\nE: DEVNUM=" +
        threeDigits(node->address) + "\nA: busnum=1\\n\nA: devnum=" + number +
        "\\n\nA: bConfigurationValue=1\\n\nA: speed=12\\n\nA: idVendor=" + hex({uint8_t(node->descriptors.vendorId() >> 8),
                                                                                  uint8_t(node->descriptors.vendorId())}) +
        "\\n\nA: idProduct=" + hex({uint8_t(node->descriptors.productId() >> 8), uint8_t(node->descriptors.productId())}) +
        "\\n\nH: descriptors=" + hex(node->descriptors.device) + hex(node->descriptors.configuration) + "\n";
    if (!umockdev_testbed_add_from_string(testbed_, record.c_str(), &error)) {
        const std::string message = error->message;
        g_error_free(error);
        throw std::runtime_error("umockdev: " + message);
    }
    umockdev_testbed_uevent(testbed_, node->sysfsPath.c_str(), "add");
    const int address = node->address;
    nodes_[address] = std::move(node);
    return address;
}

void UsbfsBridge::unplug(int address)
{
    Node &n = node(address);
    n.unplugged();
    umockdev_testbed_uevent(testbed_, n.sysfsPath.c_str(), "remove");
    umockdev_testbed_remove_device(testbed_, n.sysfsPath.c_str());
}

void UsbfsBridge::setScript(int address, Script script)
{
    Node &n = node(address);
    std::lock_guard<std::mutex> lock(n.mutex);
    n.script = std::move(script);
}

void UsbfsBridge::setNodeMode(int address, mode_t mode)
{
    ::chmod(node(address).filePath.c_str(), mode);
}

std::vector<UsbfsBridge::Request> UsbfsBridge::requests(int address) const
{
    Node &n = node(address);
    std::lock_guard<std::mutex> lock(n.mutex);
    return n.log;
}

int UsbfsBridge::opens(int address) const
{
    Node &n = node(address);
    std::lock_guard<std::mutex> lock(n.mutex);
    return n.opens;
}

int UsbfsBridge::ioctls(int address) const
{
    Node &n = node(address);
    std::lock_guard<std::mutex> lock(n.mutex);
    return n.ioctls;
}

int UsbfsBridge::discarded(int address) const
{
    Node &n = node(address);
    std::lock_guard<std::mutex> lock(n.mutex);
    return n.discarded;
}

std::string UsbfsBridge::sysfsPath(int address) const
{
    return node(address).sysfsPath;
}

std::string UsbfsBridge::nodePath(int address) const
{
    return node(address).nodePath;
}

UsbfsBridge::Node &UsbfsBridge::node(int address) const
{
    const auto found = nodes_.find(address);
    if (found == nodes_.end())
        throw std::out_of_range("no device at address " + std::to_string(address));
    return *found->second;
}
