// umockdev.h pulls in gio, whose struct member "signals" clashes with Qt's keyword macro: it comes
// before every Qt header in this file.
#include <umockdev.h>

#include "simulatedhiddevice.h"

#include "logcategories.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QHash>
#include <QtEndian>

#include <condition_variable>
#include <mutex>

#include <cerrno>
#include <csignal>
#include <dirent.h>
#include <fcntl.h>
#include <linux/hidraw.h>
#include <linux/input.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <sys/prctl.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/wait.h>
#include <termios.h>
#include <unistd.h>

namespace {

// Vendor page 0xFF00: report 1 input and output, report 4 a 16-byte feature.
const uchar ReportDescriptor[] = {
    0x06, 0x00, 0xFF,                         // Usage Page (Vendor 0xFF00)
    0x09, 0x01,                               // Usage (1)
    0xA1, 0x01,                               // Collection (Application)
    0x15, 0x00, 0x26, 0xFF, 0x00, 0x75, 0x08, //   Logical 0..255, 8 bit
    0x85, 0x01,                               //   Report ID 1
    0x09, 0x02, 0x95, 0x02, 0x81, 0x02,       //   Input, 2 bytes
    0x09, 0x03, 0x95, 0x01, 0x91, 0x02,       //   Output, 1 byte
    0x85, 0x04,                               //   Report ID 4
    0x09, 0x04, 0x95, 0x10, 0xB1, 0x02,       //   Feature, 16 bytes
    0xC0                                      // End Collection
};

// hidapi opens the node without O_NOCTTY: a client that is a session leader without a controlling
// terminal would adopt our pty and die of SIGHUP when the device is unplugged. A small child makes the
// pty its own controlling terminal first, so no client can. It only waits to be killed.
pid_t startTerminalGuard(int slave)
{
    const pid_t pid = fork();
    if (pid == 0) {
        // Nothing of the parent's signal handling (a test framework's crash handler, say) applies here.
        for (int sig = 1; sig < NSIG; ++sig)
            signal(sig, SIG_DFL);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        for (int fd = 3; fd < 1024; ++fd) {
            if (fd != slave)
                close(fd);
        }
        setsid();
        ioctl(slave, TIOCSCTTY, 0);
        for (;;)
            pause();
    }
    return pid;
}

QByteArray sysfsLine(const QString &value)
{
    // Attribute values are single lines in the record format.
    QString v = value;
    v.replace(QLatin1Char('\n'), QLatin1Char(' '));
    return v.toUtf8();
}

} // namespace

struct SimulatedHidDevice::Private
{
    UMockdevTestbed *testbed = nullptr;
    UMockdevIoctlBase *handler = nullptr;
    Config config;
    int index = 0;
    QByteArray devnode, sysUsb, sysInterface, sysHid, sysHidraw;
    int master = -1;
    int slave = -1;
    pid_t guard = 0;

    mutable std::mutex lock;
    std::condition_variable outputArrived;
    QList<QByteArray> input;
    QList<QByteArray> output;
    QHash<uchar, QByteArray> features;
    InputHook inputDelivered;
    bool plugged = false;
    bool writesFail = false;
    int ioctls = 0;
    int reads = 0;
    int writes = 0;
    QByteArray ptsName;

    static gboolean onIoctl(UMockdevIoctlBase *, UMockdevIoctlClient *client, gpointer self);
    static gboolean onRead(UMockdevIoctlBase *, UMockdevIoctlClient *client, gpointer self);
    static gboolean onWrite(UMockdevIoctlBase *, UMockdevIoctlClient *client, gpointer self);

    void answerIoctl(UMockdevIoctlClient *client);
    QByteArray record(const struct stat &node) const;
    void doUnplug();
};

namespace {

void fail(UMockdevIoctlClient *client, int error)
{
    umockdev_ioctl_client_complete(client, -1, error);
}

// The client's buffer behind the ioctl argument, or null (the request is then answered with EFAULT).
UMockdevIoctlData *clientBuffer(UMockdevIoctlClient *client, gsize size)
{
    GError *error = nullptr;
    UMockdevIoctlData *data =
        umockdev_ioctl_data_resolve(umockdev_ioctl_client_get_arg(client), 0, size, &error);
    if (!data) {
        qCWarning(lcDevSim, "simulated hid: cannot reach the client's buffer: %s",
                  error ? error->message : "null pointer");
        g_clear_error(&error);
    }
    return data;
}

} // namespace

gboolean SimulatedHidDevice::Private::onIoctl(UMockdevIoctlBase *, UMockdevIoctlClient *client, gpointer self)
{
    static_cast<Private *>(self)->answerIoctl(client);
    return TRUE;
}

void SimulatedHidDevice::Private::answerIoctl(UMockdevIoctlClient *client)
{
    const gulong request = umockdev_ioctl_client_get_request(client);
    const gsize size = _IOC_SIZE(request);
    {
        std::lock_guard<std::mutex> guard(lock);
        ++ioctls;
        if (!plugged) {
            fail(client, ENODEV);
            return;
        }
    }

    UMockdevIoctlData *data = nullptr;
    auto resolve = [&](gsize length) {
        data = clientBuffer(client, length);
        if (!data)
            fail(client, EFAULT);
        return data != nullptr;
    };
    const bool isHid = _IOC_TYPE(request) == 'H';

    if (request == HIDIOCGRDESCSIZE) {
        if (resolve(sizeof(int))) {
            *reinterpret_cast<int *>(data->data) = sizeof ReportDescriptor;
            umockdev_ioctl_client_complete(client, 0, 0);
        }
    } else if (request == HIDIOCGRDESC) {
        if (resolve(sizeof(hidraw_report_descriptor))) {
            auto *descriptor = reinterpret_cast<hidraw_report_descriptor *>(data->data);
            memcpy(descriptor->value, ReportDescriptor, sizeof ReportDescriptor);
            umockdev_ioctl_client_complete(client, 0, 0);
        }
    } else if (request == HIDIOCGRAWINFO) {
        if (resolve(sizeof(hidraw_devinfo))) {
            auto *info = reinterpret_cast<hidraw_devinfo *>(data->data);
            info->bustype = BUS_USB;
            info->vendor = __s16(config.vendorId);
            info->product = __s16(config.productId);
            umockdev_ioctl_client_complete(client, 0, 0);
        }
    } else if (isHid && (_IOC_NR(request) == _IOC_NR(HIDIOCGRAWNAME(0)) ||
                         _IOC_NR(request) == _IOC_NR(HIDIOCGRAWUNIQ(0)))) {
        if (resolve(size)) {
            const QByteArray text =
                (_IOC_NR(request) == _IOC_NR(HIDIOCGRAWUNIQ(0)) ? config.serial : config.product).toUtf8();
            const gsize n = qMin(gsize(text.size()) + 1, size);
            memcpy(data->data, text.constData(), n);
            umockdev_ioctl_client_complete(client, glong(n), 0);
        }
    } else if (isHid && _IOC_NR(request) == _IOC_NR(HIDIOCGFEATURE(0))) {
        if (resolve(size)) {
            const uchar id = size > 0 ? data->data[0] : 0;
            QByteArray report;
            bool known = false;
            {
                std::lock_guard<std::mutex> guard(lock);
                known = features.contains(id);
                report = features.value(id);
            }
            if (!known) {
                fail(client, EPIPE); // what a device that stalls the request gives
            } else {
                const gsize n = qMin(gsize(report.size()), size);
                memcpy(data->data, report.constData(), n);
                umockdev_ioctl_client_complete(client, glong(n), 0);
            }
        }
    } else if (isHid && _IOC_NR(request) == _IOC_NR(HIDIOCSFEATURE(0))) {
        if (resolve(size)) {
            const QByteArray report(reinterpret_cast<const char *>(data->data), int(size));
            if (!report.isEmpty()) {
                std::lock_guard<std::mutex> guard(lock);
                features.insert(uchar(report.at(0)), report);
            }
            umockdev_ioctl_client_complete(client, glong(size), 0);
        }
    } else {
        fail(client, ENOTTY);
    }
    if (data)
        g_object_unref(data);
}

gboolean SimulatedHidDevice::Private::onRead(UMockdevIoctlBase *, UMockdevIoctlClient *client, gpointer self)
{
    auto *d = static_cast<Private *>(self);
    UMockdevIoctlData *arg = umockdev_ioctl_client_get_arg(client);
    QByteArray report;
    InputHook hook;
    {
        std::lock_guard<std::mutex> guard(d->lock);
        ++d->reads;
        if (!d->plugged) {
            fail(client, EIO);
            return TRUE;
        }
        if (d->input.isEmpty()) {
            fail(client, EAGAIN);
            return TRUE;
        }
        report = d->input.takeFirst();
        hook = d->inputDelivered;
        // One token byte per queued report keeps the client's poll() in step with the queue.
        char token;
        if (read(d->slave, &token, 1) != 1)
            qCWarning(lcDevSim, "simulated hid: token drain failed: %s", strerror(errno));
    }
    const gsize n = qMin(gsize(report.size()), gsize(arg->data_len));
    memcpy(arg->data, report.constData(), n);
    if (hook)
        hook(report);
    umockdev_ioctl_client_complete(client, glong(n), 0);
    return TRUE;
}

gboolean SimulatedHidDevice::Private::onWrite(UMockdevIoctlBase *, UMockdevIoctlClient *client, gpointer self)
{
    auto *d = static_cast<Private *>(self);
    UMockdevIoctlData *arg = umockdev_ioctl_client_get_arg(client);
    {
        std::lock_guard<std::mutex> guard(d->lock);
        ++d->writes;
        if (!d->plugged) {
            fail(client, ENODEV);
            return TRUE;
        }
        if (d->writesFail) {
            fail(client, EIO);
            return TRUE;
        }
        d->output.append(QByteArray(reinterpret_cast<const char *>(arg->data), int(arg->data_len)));
    }
    d->outputArrived.notify_all();
    umockdev_ioctl_client_complete(client, glong(arg->data_len), 0);
    return TRUE;
}

QByteArray SimulatedHidDevice::Private::record(const struct stat &node) const
{
    const int port = index + 1;
    const QByteArray vid = QByteArray::number(config.vendorId, 16).rightJustified(4, '0');
    const QByteArray pid = QByteArray::number(config.productId, 16).rightJustified(4, '0');
    const QByteArray release = QByteArray::number(config.release, 16).rightJustified(4, '0');
    const QByteArray serial = sysfsLine(config.serial);
    const QByteArray product = sysfsLine(config.product);
    const QByteArray manufacturer = sysfsLine(config.manufacturer);
    const QByteArray majorMinor =
        QByteArray::number(major(node.st_rdev)) + ':' + QByteArray::number(minor(node.st_rdev));
    const QByteArray hidName = QByteArray("0003:") + vid.toUpper() + ':' + pid.toUpper() + '.' +
                               QByteArray::number(index + 1, 16).rightJustified(4, '0').toUpper();
    QByteArray descriptor;
    for (uchar b : ReportDescriptor)
        descriptor += QByteArray::number(b, 16).rightJustified(2, '0').toUpper();

    // umockdev-record format; paths are relative to /sys.
    QByteArray r;
    r += "P: " + sysUsb.mid(4) + "\n";
    r += "E: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\nE: DRIVER=usb\n";
    r += "E: PRODUCT=" + QByteArray::number(config.vendorId, 16) + '/' +
         QByteArray::number(config.productId, 16) + '/' + QByteArray::number(config.release, 16) + "\n";
    r += "E: BUSNUM=001\nE: DEVNUM=" + QByteArray::number(port + 1).rightJustified(3, '0') + "\n";
    r += "A: idVendor=" + vid + "\\n\nA: idProduct=" + pid + "\\n\nA: bcdDevice=" + release + "\\n\n";
    r += "A: manufacturer=" + manufacturer + "\\n\nA: product=" + product + "\\n\nA: serial=" + serial +
         "\\n\n";
    r += "A: busnum=1\\n\nA: devnum=" + QByteArray::number(port + 1) + "\\n\nA: speed=12\\n\n\n";

    r += "P: " + sysInterface.mid(4) + "\n";
    r += "E: SUBSYSTEM=usb\nE: DEVTYPE=usb_interface\nE: DRIVER=usbhid\nE: INTERFACE=3/0/0\n";
    r += "A: bInterfaceNumber=00\\n\nA: bInterfaceClass=03\\n\n\n";

    r += "P: " + sysHid.mid(4) + "\n";
    r += "E: SUBSYSTEM=hid\nE: DRIVER=hid-generic\n";
    r += "E: HID_ID=0003:" + vid.toUpper().rightJustified(8, '0') + ':' +
         pid.toUpper().rightJustified(8, '0') + "\n";
    r += "E: HID_NAME=" + manufacturer + ' ' + product + "\n";
    r += "E: HID_PHYS=usb-0000:00:14.0-" + QByteArray::number(port) + "/input0\n";
    r += "E: HID_UNIQ=" + serial + "\n";
    r += "H: report_descriptor=" + descriptor + "\n\n";

    r += "P: " + sysHidraw.mid(4) + "\n";
    r += "E: SUBSYSTEM=hidraw\nE: DEVNAME=" + devnode + "\n";
    r += "E: MAJOR=" + QByteArray::number(major(node.st_rdev)) +
         "\nE: MINOR=" + QByteArray::number(minor(node.st_rdev)) + "\n";
    r += "A: dev=" + majorMinor + "\\n\n";
    r += "L: device=../../../" + hidName + "\n";
    return r;
}

SimulatedHidDevice::SimulatedHidDevice(_UMockdevTestbed *testbed, int index, const Config &config)
    : d(new Private)
{
    d->testbed = UMOCKDEV_TESTBED(g_object_ref(testbed));
    d->config = config;
    d->index = index;

    // The client's /dev/hidrawN is a symlink to the slave of our own raw pty.
    char ptsName[256];
    if (openpty(&d->master, &d->slave, ptsName, nullptr, nullptr) < 0)
        qFatal("simulated hid: openpty: %s", strerror(errno));
    termios tio;
    tcgetattr(d->slave, &tio);
    cfmakeraw(&tio); // one token byte makes the node readable
    tcsetattr(d->slave, TCSANOW, &tio);
    fcntl(d->slave, F_SETFL, O_NONBLOCK);
    fcntl(d->master, F_SETFD, FD_CLOEXEC);
    fcntl(d->slave, F_SETFD, FD_CLOEXEC);
    d->ptsName = ptsName;
    d->guard = startTerminalGuard(d->slave);
    // The pty's real device number doubles as the hidraw number, so hidapi's fstat() based lookups of
    // an open handle find our sysfs entry.
    struct stat node;
    fstat(d->slave, &node);

    const int port = index + 1;
    d->devnode = "/dev/hidraw" + QByteArray::number(index);
    d->sysUsb = "/sys/devices/pci0000:00/0000:00:14.0/usb1/1-" + QByteArray::number(port);
    d->sysInterface = d->sysUsb + "/1-" + QByteArray::number(port) + ":1.0";
    d->sysHid = d->sysInterface +
                "/0003:" + QByteArray::number(config.vendorId, 16).rightJustified(4, '0').toUpper() + ':' +
                QByteArray::number(config.productId, 16).rightJustified(4, '0').toUpper() + '.' +
                QByteArray::number(index + 1, 16).rightJustified(4, '0').toUpper();
    d->sysHidraw = d->sysHid + "/hidraw/hidraw" + QByteArray::number(index);

    // The handler comes first, so the node never exists without it.
    d->handler = umockdev_ioctl_base_new();
    g_signal_connect(d->handler, "handle-ioctl", G_CALLBACK(Private::onIoctl), d.get());
    g_signal_connect(d->handler, "handle-read", G_CALLBACK(Private::onRead), d.get());
    g_signal_connect(d->handler, "handle-write", G_CALLBACK(Private::onWrite), d.get());
    GError *error = nullptr;
    {
        // Removing a device leaves its /sys/dev/char link behind; a new pty that reuses the number of
        // a released one would fail to be added.
        gchar *root = umockdev_testbed_get_root_dir(d->testbed);
        const QByteArray charLink = QByteArray(root) + "/sys/dev/char/" +
                                    QByteArray::number(major(node.st_rdev)) + ':' +
                                    QByteArray::number(minor(node.st_rdev));
        g_free(root);
        unlink(charLink.constData());
    }
    if (!umockdev_testbed_attach_ioctl(d->testbed, d->devnode.constData(), d->handler, &error))
        qFatal("simulated hid: attach_ioctl %s: %s", d->devnode.constData(), error->message);
    if (!umockdev_testbed_add_from_string(d->testbed, d->record(node).constData(), &error))
        qFatal("simulated hid: add_from_string: %s", error->message);

    gchar *root = umockdev_testbed_get_root_dir(d->testbed);
    const QByteArray devDir = QByteArray(root) + "/dev";
    const QByteArray link = QByteArray(root) + d->devnode;
    g_free(root);
    g_mkdir_with_parents(devDir.constData(), 0755);
    unlink(link.constData());
    if (symlink(ptsName, link.constData()) < 0)
        qFatal("simulated hid: symlink %s: %s", link.constData(), strerror(errno));
    d->plugged = true;
}

SimulatedHidDevice::~SimulatedHidDevice()
{
    d->doUnplug();
    GError *error = nullptr;
    if (!umockdev_testbed_detach_ioctl(d->testbed, d->devnode.constData(), &error)) {
        qCWarning(lcDevSim, "simulated hid: detach_ioctl %s: %s", d->devnode.constData(), error->message);
        g_clear_error(&error);
    }
    g_object_unref(d->handler);
    close(d->slave);
    g_object_unref(d->testbed);
}

void SimulatedHidDevice::Private::doUnplug()
{
    {
        std::lock_guard<std::mutex> guard(lock);
        if (!plugged)
            return;
        plugged = false;
        close(master); // hang-up: the client's poll() reports POLLHUP
        master = -1;
    }
    outputArrived.notify_all();
    if (guard > 0) {
        kill(guard, SIGKILL);
        waitpid(guard, nullptr, 0);
        guard = 0;
    }
    umockdev_testbed_uevent(testbed, sysHidraw.constData(), "remove");
    // Bottom-up, so the class and bus links and the /dev node go too.
    umockdev_testbed_remove_device(testbed, sysHidraw.constData());
    umockdev_testbed_remove_device(testbed, sysHid.constData());
    umockdev_testbed_remove_device(testbed, sysInterface.constData());
    umockdev_testbed_remove_device(testbed, sysUsb.constData());
}

void SimulatedHidDevice::unplug()
{
    d->doUnplug();
}

ushort SimulatedHidDevice::vendorId() const
{
    return d->config.vendorId;
}

ushort SimulatedHidDevice::productId() const
{
    return d->config.productId;
}

QString SimulatedHidDevice::serial() const
{
    return d->config.serial;
}

QString SimulatedHidDevice::product() const
{
    return d->config.product;
}

int SimulatedHidDevice::index() const
{
    return d->index;
}

QString SimulatedHidDevice::devnode() const
{
    return QString::fromLatin1(d->devnode);
}

bool SimulatedHidDevice::isPlugged() const
{
    std::lock_guard<std::mutex> guard(d->lock);
    return d->plugged;
}

void SimulatedHidDevice::injectInput(const QByteArray &report)
{
    std::lock_guard<std::mutex> guard(d->lock);
    if (!d->plugged)
        return;
    d->input.append(report);
    if (write(d->master, "x", 1) != 1)
        qCWarning(lcDevSim, "simulated hid: token write failed: %s", strerror(errno));
}

void SimulatedHidDevice::injectTemperature(double celsius)
{
    injectRawTemperature(qint16(qBound(-32768.0, qRound(celsius * 100.0) * 1.0, 32767.0)));
}

void SimulatedHidDevice::injectRawTemperature(qint16 hundredths)
{
    QByteArray report(3, 0x01);
    qToLittleEndian<qint16>(hundredths, report.data() + 1);
    injectInput(report);
}

int SimulatedHidDevice::pendingInputCount() const
{
    std::lock_guard<std::mutex> guard(d->lock);
    return d->input.size();
}

void SimulatedHidDevice::setInputDeliveredHook(InputHook hook)
{
    std::lock_guard<std::mutex> guard(d->lock);
    d->inputDelivered = std::move(hook);
}

void SimulatedHidDevice::setFeature(const QByteArray &report)
{
    if (report.isEmpty())
        return;
    std::lock_guard<std::mutex> guard(d->lock);
    d->features.insert(uchar(report.at(0)), report);
}

void SimulatedHidDevice::removeFeature(uchar reportId)
{
    std::lock_guard<std::mutex> guard(d->lock);
    d->features.remove(reportId);
}

void SimulatedHidDevice::setWatchdogStatus(uchar status, uchar status2, uchar kind, uchar b4, uchar b5,
                                           uchar b6)
{
    QByteArray report(17, 0);
    report[0] = 4;
    report[1] = char(status);
    report[2] = char(status2);
    report[3] = char(kind);
    report[4] = char(b4);
    report[5] = char(b5);
    report[6] = char(b6);
    setFeature(report);
}

int SimulatedHidDevice::outputCount() const
{
    std::lock_guard<std::mutex> guard(d->lock);
    return d->output.size();
}

QList<QByteArray> SimulatedHidDevice::takeOutputs()
{
    std::lock_guard<std::mutex> guard(d->lock);
    QList<QByteArray> taken;
    taken.swap(d->output);
    return taken;
}

bool SimulatedHidDevice::waitForOutputs(int count, int timeoutMs)
{
    QDeadlineTimer deadline(timeoutMs);
    for (;;) {
        {
            std::unique_lock<std::mutex> guard(d->lock);
            // Short waits: the writer may be a poll timer of this very thread.
            d->outputArrived.wait_for(guard, std::chrono::milliseconds(5),
                                      [this, count] { return d->output.size() >= count; });
            if (d->output.size() >= count)
                return true;
        }
        if (deadline.hasExpired())
            return false;
        if (QAbstractEventDispatcher::instance())
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    }
}

void SimulatedHidDevice::setWritesFail(bool fail)
{
    std::lock_guard<std::mutex> guard(d->lock);
    d->writesFail = fail;
}

int SimulatedHidDevice::ioctlCount() const
{
    std::lock_guard<std::mutex> guard(d->lock);
    return d->ioctls;
}

int SimulatedHidDevice::readCount() const
{
    std::lock_guard<std::mutex> guard(d->lock);
    return d->reads;
}

int SimulatedHidDevice::writeCount() const
{
    std::lock_guard<std::mutex> guard(d->lock);
    return d->writes;
}

int SimulatedHidDevice::openCount() const
{
    // umockdev does not tell when a client closes the node, but the kernel does: count the open
    // descriptors of every process that lead to our pty, less our own and the guard's.
    int count = 0;
    const pid_t self = getpid();
    DIR *proc = opendir("/proc");
    if (!proc)
        return 0;
    while (dirent *process = readdir(proc)) {
        char *end = nullptr;
        const long pid = strtol(process->d_name, &end, 10);
        if (*end || pid <= 0 || pid == d->guard)
            continue;
        const QByteArray fdDir = QByteArray("/proc/") + QByteArray(process->d_name) + QByteArray("/fd");
        DIR *fds = opendir(fdDir.constData());
        if (!fds)
            continue;
        while (dirent *fd = readdir(fds)) {
            if (fd->d_name[0] == '.')
                continue;
            if (pid == self && atoi(fd->d_name) == d->slave)
                continue;
            char target[256];
            const QByteArray link = fdDir + '/' + QByteArray(fd->d_name);
            const ssize_t n = readlink(link.constData(), target, sizeof target - 1);
            // Once the master is closed the slave shows as deleted.
            const QByteArray path(target, int(n > 0 ? n : 0));
            if (path == d->ptsName || path == d->ptsName + " (deleted)")
                ++count;
        }
        closedir(fds);
    }
    closedir(proc);
    return count;
}
