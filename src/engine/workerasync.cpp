#include "workerasync.h"

#include "engine/enginelog.h"
#include "engine/modulerecords.h"
#include "engine/mychartrect.h"
#include "engine/settings.h"
#include "engine/workerprocess.h"
#include "link/controlunitlistprovider.h"
#include "link/storedsettings.h"
#include "models/dataproviderlist.h"
#include "models/eepromdatamodel.h"
#include "models/eepromdatastorage.h"
#include "models/sweepparameterlists.h"

#include <QCoreApplication>
#include <QFile>
#include <QPointer>
#include <QSettings>
#include <QUrl>
#include <QtGlobal>

namespace {

WorkerAsync* s_instance = nullptr;

WorkerAsync::WorkerProducerType producerFromMarkerFiles()
{
    if (QFile::exists(QStringLiteral("/home/pi/.brevitronics")))
        return WorkerAsync::ProducerBrevitronics;
    if (QFile::exists(QStringLiteral("/home/pi/.pelliwig")))
        return WorkerAsync::ProducerPelliwig;
    return WorkerAsync::ProducerNorvane;
}

// The screen decorates its window differently on the Pi beside the rack; the device tree
// names the board there.
bool runsOnRaspberryPi()
{
    QFile model(QStringLiteral("/proc/device-tree/model"));
    if (!model.open(QIODevice::ReadOnly))
        return false;
    return model.readAll().contains("Raspberry Pi");
}

} // namespace

WorkerAsync* WorkerAsync::instance()
{
    if (!s_instance)
        s_instance = new WorkerAsync;
    return s_instance;
}

WorkerAsync::WorkerAsync(QObject* parent) : QObject(parent)
{
    m_dataList = new DataProviderList(this);
    m_process = new WorkerProcess;
    m_settings = new Settings(this);

    m_workerVersion = QStringLiteral("1.3.1");
    m_eepromStorage = new EepromDataStorage(this);
    m_isRaspberryPi = runsOnRaspberryPi();

    m_producerType = producerFromMarkerFiles();

    QSettings stored(StoredSettings::Organisation, StoredSettings::Application);
    setCurrentAddress(
        stored.value(StoredSettings::UnitAddressKey, StoredSettings::DefaultUnitAddress)
            .toString());

    m_workerThread.setObjectName(QStringLiteral("WorkerThread"));
    m_process->moveToThread(&m_workerThread);
    m_workerThread.start();

    connect(this, &WorkerAsync::startProcess, m_process, &WorkerProcess::runProcess);
    connect(m_process, &WorkerProcess::deviceListUpdated, this, &WorkerAsync::initDataList);
    connect(m_process, &WorkerProcess::connected, this, &WorkerAsync::controlUnitConnected);
    connect(m_process, &WorkerProcess::connectionLost, this, &WorkerAsync::controlUnitLost);
    connect(m_process, &WorkerProcess::dataReady, this, &WorkerAsync::updateData);
    connect(m_process, &WorkerProcess::eepromDataReady, this, &WorkerAsync::eepromDataReady);
    connect(m_process, &WorkerProcess::eepromUpdated, this, &WorkerAsync::eepromDataUpdated);
    connect(m_process, &WorkerProcess::updatePlot, this, &WorkerAsync::updatePlot);
    connect(m_process, &WorkerProcess::finished, &m_workerThread, &QThread::quit);
    connect(m_process, &WorkerProcess::finished, m_process, &QObject::deleteLater);
    connect(m_process, &WorkerProcess::setStatusText, this, &WorkerAsync::setStatusText);
    connect(m_process, &WorkerProcess::sendErrorMessage, this, &WorkerAsync::sendErrorMessage);
    connect(m_process, &WorkerProcess::sendMessage, this, &WorkerAsync::sendMessage);
    connect(m_process, &WorkerProcess::sweepProgress, this, &WorkerAsync::setProgress);
    connect(m_process, &WorkerProcess::sweepFinished, this, &WorkerAsync::sweepFinished);
    connect(m_process, &WorkerProcess::commandExecuted, this, &WorkerAsync::commandExecuted);
    // A unit that cannot be reached sends no module list at all: without this the
    // connection form would wait, disabled, for an answer that never comes.
    connect(m_process, &WorkerProcess::commandExecuted, this,
            [this](int command, const QVariant&, bool ok) {
                if (command != CommandConnect || ok)
                    return;
                setStatusText(QStringLiteral("Connection failure!"));
                setGUIEnable(true);
            });
    connectCharacterisation();
    connect(m_settings, &Settings::timeConstantChanged, this, [this] {
        m_process->addCommand(CommandSetTimeOut, m_settings->timeConstant() * 1000.0);
    });

    m_sweepParameterRows = defaultSweepParameterLists();

    EepromDataModel::instance()->setStorage(m_eepromStorage);

    emit startProcess();
}

WorkerAsync::~WorkerAsync()
{
    qCDebug(lcEngine) << "workerAsync close";
    const QPointer<WorkerProcess> process(m_process);
    m_workerThread.requestInterruption();
    m_workerThread.quit();
    m_workerThread.wait();
    // A quit that comes before the thread has delivered startProcess ends the thread without
    // the loop: the process never finishes and is never deleted there. Its thread is over,
    // so it goes here, with the drivers and the link it may own.
    delete process.data();
    qCDebug(lcEngine) << "workerAsync destroyed";
    if (s_instance == this)
        s_instance = nullptr;
}

QList<DriverDataItem>* WorkerAsync::sweepParameterRows(WorkerMode mode)
{
    const auto it = m_sweepParameterRows.find(int(mode));
    return it == m_sweepParameterRows.end() ? nullptr : &it.value();
}

MyChartRect* WorkerAsync::chartRectFor(WorkerMode mode)
{
    MyChartRect*& rect = m_chartRects[mode];
    if (!rect)
        rect = new MyChartRect(this);
    return rect;
}

void WorkerAsync::setGUIEnable(bool enable)
{
    if (m_guiEnable == enable)
        return;
    m_guiEnable = enable;
    emit GUIEnableChanged();
}

void WorkerAsync::setAvailableControlUnits(const QStringList& units)
{
    if (m_availableControlUnits == units)
        return;
    m_availableControlUnits = units;
    emit AvailableControlUnitsChanged();
}

void WorkerAsync::setCurrentAddress(const QString& address)
{
    if (m_currentAddress == address)
        return;
    m_currentAddress = address;
    emit CurrentAddressChanged();
}

void WorkerAsync::setDataList(DataProviderList* list)
{
    if (m_dataList == list)
        return;
    m_dataList = list;
    emit dataListChanged();
}

void WorkerAsync::setStatusText(const QString& text)
{
    if (m_statusText == text)
        return;
    m_statusText = text;
    emit statusTextChanged();
}

void WorkerAsync::setProducerType(WorkerProducerType type)
{
    if (m_producerType == type)
        return;
    m_producerType = type;
    emit producerTypeChanged();
}

void WorkerAsync::setSettings(Settings* settings)
{
    if (m_settings == settings)
        return;
    m_settings = settings;
    emit settingsChanged();
}

void WorkerAsync::setProgress(double progress)
{
    // Relative tolerance of 1e-12; zero equals only exact zero.
    if (qFuzzyCompare(m_progress, progress))
        return;
    m_progress = progress;
    emit progressChanged();
}

void WorkerAsync::connectToControlUnit(QString address)
{
    qCDebug(lcEngine) << "WorkerAsync::connect" << address;
    if (m_guiEnable)
        setGUIEnable(false);
    setStatusText(QStringLiteral("Try to connect to %1").arg(address));
    QSettings stored(StoredSettings::Organisation, StoredSettings::Application);
    stored.setValue(StoredSettings::UnitAddressKey, address);
    setCurrentAddress(address);
    m_process->addCommand(CommandConnect, address);
}

void WorkerAsync::disconnect()
{
    qCDebug(lcEngine) << "WorkerAsync::disconnect";
    emit disconnected();
}

void WorkerAsync::updateAvailableControlUnitList()
{
    qCDebug(lcEngine) << "WorkerAsync::updateAvailableControlUnitList";
    setStatusText(QStringLiteral("Update available TCP/IP Devices..."));
    setAvailableControlUnits({});
    // Only the newest search reports: older ones still running are abandoned, and every
    // provider goes once it has answered.
    for (auto* older : findChildren<ControlUnitListProvider*>(Qt::FindDirectChildrenOnly)) {
        older->disconnect(this);
        older->stop();
        older->deleteLater();
    }
    auto* provider = new ControlUnitListProvider(this);
    connect(provider, &ControlUnitListProvider::ready, this, [this, provider] {
        provider->deleteLater();
        const QStringList units = provider->controlUnits();
        setAvailableControlUnits(units);
        setStatusText(QStringLiteral("%1 device(s) founded.").arg(units.size()));
        setGUIEnable(true);
    });
    connect(provider, &ControlUnitListProvider::error, this, [this, provider] {
        provider->deleteLater();
        setStatusText(QStringLiteral("Cannot search for units: answer port %1 is in use")
                          .arg(provider->answerPort()));
        setGUIEnable(true);
    });
    provider->search();
}

void WorkerAsync::initializeGUI(WorkerAsync::WorkerMode mode)
{
    qCDebug(lcEngine) << "initializeGUI" << mode;
    m_settings->setChartRect(chartRectFor(mode));
    if (QList<DriverDataItem>* rows = sweepParameterRows(mode))
        m_settings->setSweepParameters(rows);
    qCDebug(lcEngine) << "initializeGUI done";
}

void WorkerAsync::deactivateMode(WorkerAsync::WorkerMode mode)
{
    qCDebug(lcEngine) << "Mode:" << mode << "deactivated";
}

void WorkerAsync::sendCommand(WorkerAsync::WorkerCommands cmd, QVariant params)
{
    m_process->addCommand(cmd, params);
}

void WorkerAsync::setParameter(int address, QString parameter, QVariant value)
{
    qCDebug(lcEngine) << "address" << address << ": Parameter" << parameter << ": Value" << value;
    m_process->addCommand(CommandFreeStyle, QVariantList{address, parameter, value});
}

QString WorkerAsync::currentAppPath()
{
    return QCoreApplication::applicationDirPath();
}

QString WorkerAsync::urlToPath(QString url)
{
    return QUrl(url).toLocalFile();
}

void WorkerAsync::turnOnAllSelectedChannels(bool turnOn)
{
    const QList<DataProviderItem> items = m_dataList->items();
    for (const DataProviderItem& item : items) {
        if (item.value(QStringLiteral("selected")).toBool())
            setParameter(item.value(QStringLiteral("address")).toInt(), QStringLiteral("operate"),
                         turnOn);
    }
}

void WorkerAsync::sendEepromData()
{
    m_process->addCommand(CommandSetEepromConst, QVariant::fromValue(m_eepromStorage));
}

void WorkerAsync::writeEeprom()
{
    m_process->addCommand(CommandWriteEEPROM, m_eepromStorage->address());
}

void WorkerAsync::eepromDataReady(int address, QVariantMap data)
{
    Q_UNUSED(address)
    m_eepromStorage->initialize(data);
    emit eepromDataUpdated();
}

void WorkerAsync::controlUnitConnected()
{
    qCDebug(lcEngine) << "controlUnitConnected";
    emit connected();
}

// The screen goes back to the connection form, as after "Reconnect", and says why.
void WorkerAsync::controlUnitLost(QString address)
{
    qCDebug(lcEngine) << "controlUnitLost" << address;
    setStatusText(QStringLiteral("Connection to %1 lost").arg(address));
    setGUIEnable(true);
    emit disconnected();
}

void WorkerAsync::initDataList(QJsonObject initData)
{
    qCDebug(lcEngine) << "initDataList" << initData;
    if (initData.isEmpty()) {
        setStatusText(QStringLiteral("Connection failure!"));
        setGUIEnable(true);
        return;
    }
    setStatusText(QStringLiteral("Connected!!!"));
    m_dataList->removeAll();

    const QList<DataProviderItem> records = moduleRecords(initData);
    for (const DataProviderItem& record : records)
        m_dataList->appendItem(record);

    if (!m_guiEnable)
        setGUIEnable(true);
    emit m_dataList->updated();
    qCDebug(lcEngine) << "initDataList !!!";
}

#include "moc_workerasync.cpp"
