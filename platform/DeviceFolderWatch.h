#pragma once

#include "core/DeviceWatch.h"

#include <QObject>

/// Watches the folder a device node or its link appears in (/dev, /dev/serial/by-id), or
/// the nearest folder above it that exists, following the path down as folders appear:
/// udev removes /dev/serial with the last USB adapter and makes it again with the next.
/// A port not named by a path (a network port, a Windows COM port) has no folder to watch.
class DeviceFolderWatch : public QObject, public DeviceWatch
{
    Q_OBJECT
public:
    explicit DeviceFolderWatch(QObject *parent = nullptr);
    ~DeviceFolderWatch() override;

    void watch(const QString &device) override;
    bool isPresent(const QString &device) const override;
    void setAppearedHandler(std::function<void()> onAppeared) override;

private:
    void follow();
    void folderChanged();
    bool take(const QString &folder); ///< watches `folder` as this one's
    void release();                   ///< lets this one's folder go

    QString m_folder; ///< the folder watched for the device
    QString m_device;
    std::function<void()> m_onAppeared;
};
