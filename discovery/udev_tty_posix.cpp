#include "discovery/udev_tty.h"

#include <libudev.h>

#include <memory>

namespace OpenPlotr {

namespace {

struct UdevDeleter {
  void operator()(udev *u) const { udev_unref(u); }
  void operator()(udev_enumerate *e) const { udev_enumerate_unref(e); }
  void operator()(udev_device *d) const { udev_device_unref(d); }
};
template <typename T>
using UdevPtr = std::unique_ptr<T, UdevDeleter>;

std::string Text(const char *value) { return value ? std::string(value) : std::string(); }

// udev's rules give the properties; without a udev database only the USB
// device's attributes are there.
std::string PropertyOr(udev_device *tty, const char *property, udev_device *usb, const char *attribute) {
  std::string value = Text(udev_device_get_property_value(tty, property));
  if (value.empty() && attribute) value = Text(udev_device_get_sysattr_value(usb, attribute));
  return value;
}

}  // namespace

std::vector<UsbTty> ListUsbTtys() {
  std::vector<UsbTty> ttys;
  UdevPtr<udev> context(udev_new());
  if (!context) return ttys;
  UdevPtr<udev_enumerate> enumerate(udev_enumerate_new(context.get()));
  if (!enumerate || udev_enumerate_add_match_subsystem(enumerate.get(), "tty") < 0 ||
      udev_enumerate_scan_devices(enumerate.get()) < 0) {
    return ttys;
  }
  udev_list_entry *entry = nullptr;
  udev_list_entry_foreach(entry, udev_enumerate_get_list_entry(enumerate.get())) {
    UdevPtr<udev_device> tty(udev_device_new_from_syspath(context.get(), udev_list_entry_get_name(entry)));
    if (!tty) continue;
    // The parent belongs to the tty and is released with it.
    udev_device *usb = udev_device_get_parent_with_subsystem_devtype(tty.get(), "usb", "usb_device");
    const char *devnode = udev_device_get_devnode(tty.get());
    if (!usb || !devnode) continue;
    UsbTty port;
    port.sysname = Text(udev_device_get_sysname(tty.get()));
    port.devnode = devnode;
    port.vendorId = PropertyOr(tty.get(), "ID_VENDOR_ID", usb, "idVendor");
    port.productId = PropertyOr(tty.get(), "ID_MODEL_ID", usb, "idProduct");
    port.serialProperty = Text(udev_device_get_property_value(tty.get(), "ID_SERIAL_SHORT"));
    port.serialAttribute = Text(udev_device_get_sysattr_value(usb, "serial"));
    port.interfaceNumber = Text(udev_device_get_property_value(tty.get(), "ID_USB_INTERFACE_NUM"));
    if (port.interfaceNumber.empty()) {
      udev_device *usbInterface = udev_device_get_parent_with_subsystem_devtype(tty.get(), "usb", "usb_interface");
      if (usbInterface) port.interfaceNumber = Text(udev_device_get_sysattr_value(usbInterface, "bInterfaceNumber"));
    }
    port.model = PropertyOr(tty.get(), "ID_MODEL_FROM_DATABASE", usb, "product");
    port.vendor = PropertyOr(tty.get(), "ID_VENDOR_FROM_DATABASE", usb, "manufacturer");
    ttys.push_back(std::move(port));
  }
  return ttys;
}

}  // namespace OpenPlotr
