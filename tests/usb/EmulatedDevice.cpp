#include "usb/EmulatedDevice.h"

// clang-format off
#include <sys/ioctl.h>
#include <linux/usbdevice_fs.h>
// clang-format on

#include <sys/stat.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace kz::usbtest {

namespace {

kzemu::FirmwareConfig ConfigFrom(const std::string& text) {
  kzemu::FirmwareConfig cfg;
  std::string error;
  if (!kzemu::ParseFirmwareConfig(text, cfg, &error))
    std::fprintf(stderr, "emulated device: %s\n", error.c_str());
  return cfg;
}

std::string HexBytes(const std::vector<std::uint8_t>& b) {
  std::string s;
  char h[4];
  for (std::uint8_t v : b) {
    std::snprintf(h, sizeof h, "%02x", v);
    s += h;
  }
  return s;
}

// Device, configuration, interface and endpoint descriptors as the kernel
// keeps them in sysfs ("descriptors"), little-endian fields.
std::vector<std::uint8_t> Descriptors(const DeviceSpec& s) {
  std::vector<std::uint8_t> d = {18,
                                 1,
                                 0x00,
                                 0x02,
                                 0,
                                 0,
                                 0,
                                 64,
                                 static_cast<std::uint8_t>(s.vid),
                                 static_cast<std::uint8_t>(s.vid >> 8),
                                 static_cast<std::uint8_t>(s.pid),
                                 static_cast<std::uint8_t>(s.pid >> 8),
                                 0x00,
                                 0x01,
                                 1,
                                 2,
                                 0,
                                 1};
  if (s.emulatorEndpoints) {
    const std::uint8_t config[] = {
        9, 2, 32,   0, 1,  1,    0, 0x80, 50,  // one interface
        9, 4, 0,    0, 2,  0xFF, 0, 0,    0,   // vendor class, 2 endpoints
        7, 5, 0x02, 2, 64, 0,    0,            // bulk OUT 2, 64 bytes
        7, 5, 0x81, 2, 64, 0,    0};           // bulk IN 1, 64 bytes
    d.insert(d.end(), std::begin(config), std::end(config));
  } else {
    const std::uint8_t config[] = {9, 2, 25,   0, 1, 1, 0, 0xA0, 50,  // one interface
                                   9, 4, 0,    0, 1, 3, 1, 1,    0,   // HID boot keyboard
                                   7, 5, 0x81, 3, 8, 0, 10};          // interrupt IN 1, 8 bytes
    d.insert(d.end(), std::begin(config), std::end(config));
  }
  return d;
}

// What the handlers' signals reach: the devices while they live, by slot. A
// process that ends in the middle of an ioctl leaves its request to be read
// after the test may have dropped the device; such a request finds none. The
// lock is constant-initialized and the table is only touched under it, so
// everything a device's constructor made is ordered before the ioctls the
// worker thread serves (glib's own locks are invisible to the thread
// sanitizer).
std::mutex slotLock;
std::vector<EmulatedDevice*>& Slots() {
  static auto* const slots = new std::vector<EmulatedDevice*>;  // the worker may outlive statics
  return *slots;
}

gboolean OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer slot) {
  std::lock_guard<std::mutex> hold(slotLock);
  EmulatedDevice* device = Slots()[reinterpret_cast<std::uintptr_t>(slot)];
  if (device == nullptr || !device->HandleIoctl(client))
    umockdev_ioctl_client_complete(client, -1, ENODEV);
  return TRUE;
}

usbdevfs_urb* Urb(UMockdevIoctlData* d) {
  return reinterpret_cast<usbdevfs_urb*>(d->data);
}

}  // namespace

UMockdevTestbed* Testbed() {
  static UMockdevTestbed* const testbed = umockdev_testbed_new();
  return testbed;
}

bool UnderUmockdev() {
  const char* preload = std::getenv("LD_PRELOAD");
  return preload != nullptr && std::strstr(preload, "umockdev") != nullptr;
}

EmulatedDevice::EmulatedDevice(const DeviceSpec& description)
    : spec_(description), firmware_(ConfigFrom(description.firmware)) {
  char node[64], name[16];
  std::snprintf(node, sizeof node, "/dev/bus/usb/001/%03u", description.address);
  std::snprintf(name, sizeof name, "1-%u", description.address);
  sysPath_ = std::string("/sys/devices/usb1/") + name;
  handler_ = umockdev_ioctl_base_new();
  {
    std::lock_guard<std::mutex> hold(slotLock);
    slot_ = Slots().size();
    Slots().push_back(this);
  }
  g_signal_connect(handler_, "handle-ioctl", G_CALLBACK(OnIoctl),
                   reinterpret_cast<gpointer>(static_cast<std::uintptr_t>(slot_)));
  // The handler first: a client may open the node as soon as it exists.
  umockdev_testbed_attach_ioctl(Testbed(), node, handler_, nullptr);
  char vid[8], pid[8], address[8];
  std::snprintf(vid, sizeof vid, "%04x", description.vid);
  std::snprintf(pid, sizeof pid, "%04x", description.pid);
  std::snprintf(address, sizeof address, "%03u", description.address);
  std::string text = std::string("P: /devices/usb1/") + name + "\nN: bus/usb/001/" + address +
                     "\nE: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: DRIVER=usb\nE: BUSNUM=001\n"
                     "E: DEVNUM=" +
                     address + "\nE: DEVNAME=" + node +
                     "\nA: busnum=1\\n\nA: devnum=" + std::to_string(description.address) +
                     "\\n\nA: bConfigurationValue=1\\n\nA: speed=12\\n\nA: idVendor=" + vid +
                     "\\n\nA: idProduct=" + pid + "\\n\n";
  if (description.strings)
    text += "A: manufacturer=" + description.manufacturer +
            "\\n\nA: product=" + description.product + "\\n\n";
  text += "H: descriptors=" + HexBytes(Descriptors(description)) + "\n";
  umockdev_testbed_add_from_string(Testbed(), text.c_str(), nullptr);
}

EmulatedDevice::~EmulatedDevice() {
  {
    // No ioctl reaches this object from here on (see OnIoctl).
    std::lock_guard<std::mutex> hold(slotLock);
    Slots()[slot_] = nullptr;
  }
  umockdev_testbed_remove_device(Testbed(), sysPath_.c_str());
  char node[64];
  std::snprintf(node, sizeof node, "/dev/bus/usb/001/%03u", spec_.address);
  umockdev_testbed_detach_ioctl(Testbed(), node, nullptr);
  std::lock_guard<std::mutex> hold(lock_);
  for (UMockdevIoctlData* d : pendingIn_) g_object_unref(d);
  for (UMockdevIoctlData* d : reapable_) g_object_unref(d);
  pendingIn_.clear();
  reapable_.clear();
  g_object_unref(handler_);
}

std::string EmulatedDevice::Setting() const {
  char b[64];
  std::snprintf(b, sizeof b, "vid=0x%04x,pid=0x%04x", spec_.vid, spec_.pid);
  return b;
}

std::string EmulatedDevice::NodePath() const {
  char b[64];
  std::snprintf(b, sizeof b, "/dev/bus/usb/001/%03u", spec_.address);
  gchar* root = umockdev_testbed_get_root_dir(Testbed());
  std::string path = std::string(root) + b;
  g_free(root);
  return path;
}

void EmulatedDevice::SetBusy(bool busy) {
  std::lock_guard<std::mutex> hold(lock_);
  busy_ = busy;
}

void EmulatedDevice::UnplugDuringRun(int packets) {
  std::lock_guard<std::mutex> hold(lock_);
  unplugAfter_ = packets;
}

void EmulatedDevice::SilenceDuringRun(int packets) {
  std::lock_guard<std::mutex> hold(lock_);
  silenceAfter_ = packets;
}

void EmulatedDevice::SetSilent(bool silent) {
  std::lock_guard<std::mutex> hold(lock_);
  silent_ = silent;
}

void EmulatedDevice::DenyAccess() {
  chmod(NodePath().c_str(), 0);
}

std::uint32_t EmulatedDevice::Commands() const {
  std::lock_guard<std::mutex> hold(lock_);
  return commands_;
}

std::uint32_t EmulatedDevice::MonitorPagesStored() const {
  std::lock_guard<std::mutex> hold(lock_);
  return firmware_.PagesStored();
}

bool EmulatedDevice::Unplugged() const {
  std::lock_guard<std::mutex> hold(lock_);
  return unplugged_;
}

// Caller holds lock_.
void EmulatedDevice::Serve(const std::uint8_t* data, std::size_t length) {
  ++commands_;
  kzemu::Packet cmd{}, reply{};
  std::memcpy(cmd.data(), data, std::min(length, cmd.size()));
  const bool answer = firmware_.Serve(cmd, reply);
  if (firmware_.Executing()) {
    if (silenceAfter_ > 0 && --silenceAfter_ == 0) silent_ = true;
    if (unplugAfter_ > 0 && --unplugAfter_ == 0) {
      Unplug();
      return;
    }
  }
  if (answer && !silent_) replies_.emplace_back(reply.begin(), reply.end());
  Match();
}

// Caller holds lock_. Pairs waiting IN URBs with replies.
void EmulatedDevice::Match() {
  while (!pendingIn_.empty() && !replies_.empty()) {
    UMockdevIoctlData* d = pendingIn_.front();
    pendingIn_.erase(pendingIn_.begin());
    usbdevfs_urb* urb = Urb(d);
    const std::vector<std::uint8_t>& r = replies_.front();
    const std::size_t n =
        std::min<std::size_t>(r.size(), static_cast<std::size_t>(urb->buffer_length));
    std::memcpy(urb->buffer, r.data(), n);
    urb->actual_length = static_cast<int>(n);
    urb->status = 0;
    replies_.pop_front();
    reapable_.push_back(d);
  }
}

// Caller holds lock_. What the kernel does when the device goes: waiting
// URBs end with ESHUTDOWN, then every call fails with ENODEV.
void EmulatedDevice::Unplug() {
  unplugged_ = true;
  for (UMockdevIoctlData* d : pendingIn_) {
    Urb(d)->status = -ESHUTDOWN;
    Urb(d)->actual_length = 0;
    reapable_.push_back(d);
  }
  pendingIn_.clear();
  replies_.clear();
}

bool EmulatedDevice::HandleIoctl(UMockdevIoctlClient* client) {
  std::lock_guard<std::mutex> hold(lock_);
  const gulong request = umockdev_ioctl_client_get_request(client);
  UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
  auto fail = [client](int error) {
    umockdev_ioctl_client_complete(client, -1, error);
    return true;
  };
  auto done = [client] {
    umockdev_ioctl_client_complete(client, 0, 0);
    return true;
  };
  switch (request) {
    case USBDEVFS_GET_CAPABILITIES: {
      UMockdevIoctlData* d = umockdev_ioctl_data_resolve(arg, 0, sizeof(guint32), nullptr);
      *reinterpret_cast<guint32*>(d->data) = USBDEVFS_CAP_BULK_CONTINUATION |
                                             USBDEVFS_CAP_NO_PACKET_SIZE_LIM |
                                             USBDEVFS_CAP_REAP_AFTER_DISCONNECT;
      done();
      g_object_unref(d);
      return true;
    }
    case USBDEVFS_CLAIMINTERFACE:
    case USBDEVFS_DISCONNECT_CLAIM:
      if (unplugged_) return fail(ENODEV);
      return busy_ ? fail(EBUSY) : done();
    case USBDEVFS_RELEASEINTERFACE:
    case USBDEVFS_CLEAR_HALT:
    case USBDEVFS_RESETEP:
    case USBDEVFS_SETINTERFACE:
      return unplugged_ ? fail(ENODEV) : done();
    case USBDEVFS_GETDRIVER:
    case USBDEVFS_IOCTL:
      return fail(ENODATA);  // no kernel driver bound
    case USBDEVFS_SUBMITURB: {
      if (unplugged_) return fail(ENODEV);
      // Resolved data are references of our own: the URB's is kept until it
      // is reaped; its buffer's belongs to the URB's.
      UMockdevIoctlData* d = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), nullptr);
      usbdevfs_urb* urb = Urb(d);
      if (urb->type != USBDEVFS_URB_TYPE_BULK || urb->buffer_length <= 0 ||
          urb->buffer_length > 4096) {
        g_object_unref(d);
        return fail(EINVAL);
      }
      if (UMockdevIoctlData* buffer =
              umockdev_ioctl_data_resolve(d, G_STRUCT_OFFSET(usbdevfs_urb, buffer),
                                          static_cast<gsize>(urb->buffer_length), nullptr))
        g_object_unref(buffer);
      if ((urb->endpoint & 0x80) != 0) {
        pendingIn_.push_back(d);
        Match();
      } else {
        urb->actual_length = urb->buffer_length;
        urb->status = 0;
        reapable_.push_back(d);
        Serve(static_cast<const std::uint8_t*>(urb->buffer),
              static_cast<std::size_t>(urb->buffer_length));
      }
      return done();
    }
    case USBDEVFS_REAPURB:
    case USBDEVFS_REAPURBNDELAY: {
      if (reapable_.empty()) return fail(unplugged_ ? ENODEV : EAGAIN);
      UMockdevIoctlData* d = reapable_.front();
      reapable_.pop_front();
      UMockdevIoctlData* ptr = umockdev_ioctl_data_resolve(arg, 0, sizeof(gpointer), nullptr);
      umockdev_ioctl_data_set_ptr(ptr, 0, d);  // written back to the client on completion
      done();
      g_object_unref(ptr);
      g_object_unref(d);
      return true;
    }
    case USBDEVFS_DISCARDURB: {
      const gulong address = *reinterpret_cast<gulong*>(arg->data);
      for (std::size_t i = 0; i < pendingIn_.size(); ++i) {
        if (pendingIn_[i]->client_addr != address) continue;
        UMockdevIoctlData* d = pendingIn_[i];
        pendingIn_.erase(pendingIn_.begin() + static_cast<std::ptrdiff_t>(i));
        Urb(d)->status = -ENOENT;
        Urb(d)->actual_length = 0;
        reapable_.push_back(d);
        return done();
      }
      return fail(EINVAL);
    }
    default:
      return fail(ENOTTY);
  }
}

}  // namespace kz::usbtest
