#pragma once
// The engine's face to the screen (QML singleton "Worker"): owns the worker thread and its
// process, the device list, the settings, the EEPROM storage and the sweep parameter rows,
// turns every request into a queued command and applies the results on the GUI thread.
#include "models/driverdataitem.h"

#include <QHash>
#include <QJsonObject>
#include <QList>
#include <QMap>
#include <QObject>
#include <QStringList>
#include <QThread>
#include <QVariant>
#include <QVariantList>
#include <QVariantMap>

class DataProviderList;
class EepromDataStorage;
class MyChartRect;
class Settings;
class WorkerProcess;
class QAbstractSeries;
class QAreaSeries;

class WorkerAsync : public QObject
{
    Q_OBJECT
    Q_MOC_INCLUDE("models/dataproviderlist.h")
    Q_MOC_INCLUDE("engine/settings.h")
    Q_MOC_INCLUDE(<QAbstractSeries>)
    Q_PROPERTY(bool GUIEnable READ GUIEnable WRITE setGUIEnable NOTIFY GUIEnableChanged)
    Q_PROPERTY(QStringList AvailableControlUnits READ AvailableControlUnits WRITE
                   setAvailableControlUnits NOTIFY AvailableControlUnitsChanged)
    Q_PROPERTY(QString CurrentAddress READ CurrentAddress WRITE setCurrentAddress NOTIFY
                   CurrentAddressChanged)
    Q_PROPERTY(DataProviderList* dataList READ dataList WRITE setDataList NOTIFY dataListChanged)
    Q_PROPERTY(QString statusText READ statusText WRITE setStatusText NOTIFY statusTextChanged)
    Q_PROPERTY(WorkerProducerType producerType READ producerType WRITE setProducerType NOTIFY
                   producerTypeChanged)
    Q_PROPERTY(Settings* settings READ settings WRITE setSettings NOTIFY settingsChanged)
    Q_PROPERTY(double progress READ progress WRITE setProgress NOTIFY progressChanged)
    Q_PROPERTY(QString WorkerVersion READ WorkerVersion CONSTANT)
    Q_PROPERTY(bool isSystemEqualRaspberryPi READ isSystemEqualRaspberryPi CONSTANT)

public:
    enum WorkerMode {
        WorkerModeAllChannels = 0,
        WorkerModeSspdSingleChannel = 1,
        WorkerModeTemperatureSingleMode = 2,
        WorkerModeCpsVersTime = 3,
        WorkerModeTemperatureVersTime = 4,
        WorkerModeCpsVersCurrent = 5,
        WorkerModeCpsVersTrigger = 6,
        WorkerModeIVCurves = 7,
        WorkerModeHistogram = 8,
        WorkerModeNoAction = 9,
    };
    Q_ENUM(WorkerMode)

    enum WorkerProducerType {
        ProducerNone = 0,
        ProducerNorvane = 1,
        ProducerBrevitronics = 2,
        ProducerPelliwig = 3,
    };
    Q_ENUM(WorkerProducerType)

    enum WorkerCommands {
        CommandConnect = 0,
        CommandSetMode = 1,
        CommandSetActiveChannels = 2,
        CommandSetTimeOut = 3,
        CommandFreeStyle = 4,
        CommandSweepParams = 5,
        CommandResetUnits = 6,
        CommandSystemReset = 7,
        CommandPowerOff = 8,
        CommandAddUnit = 9,
        CommandRemoveUnit = 10,
        CommandUpdateUnit = 11,
        CommandLock = 12,
        CommandUpdateEepromConst = 13,
        CommandSetEepromConst = 14,
        CommandWriteEEPROM = 15,
    };
    Q_ENUM(WorkerCommands)

    enum CpsVsTimeMode {
        CpsVsTimeFreeRunning = 0,
        CpsVsTimeWindowed = 1,
    };
    Q_ENUM(CpsVsTimeMode)

    // The process-wide instance, created on the first call; also the QML singleton factory.
    static WorkerAsync* instance();
    ~WorkerAsync() override;

    bool GUIEnable() const { return m_guiEnable; }
    void setGUIEnable(bool enable);
    QStringList AvailableControlUnits() const { return m_availableControlUnits; }
    void setAvailableControlUnits(const QStringList& units);
    QString CurrentAddress() const { return m_currentAddress; }
    void setCurrentAddress(const QString& address);
    DataProviderList* dataList() const { return m_dataList; }
    void setDataList(DataProviderList* list);
    QString statusText() const { return m_statusText; }
    WorkerProducerType producerType() const { return m_producerType; }
    void setProducerType(WorkerProducerType type);
    Settings* settings() const { return m_settings; }
    void setSettings(Settings* settings);
    double progress() const { return m_progress; }
    QString WorkerVersion() const { return m_workerVersion; }
    bool isSystemEqualRaspberryPi() const { return m_isRaspberryPi; }

    EepromDataStorage* eepromStorage() const { return m_eepromStorage; }
    WorkerMode currentMode() const { return m_currentMode; }
    // The process on the worker thread; only its addCommand() may be called from here.
    WorkerProcess* process() const { return m_process; }
    // The sweep parameter rows of a sweep mode (5 to 8), null for other modes.
    QList<DriverDataItem>* sweepParameterRows(WorkerMode mode);

public slots:
    void setStatusText(const QString& text);
    void setProgress(double progress);

    void connectToControlUnit(QString address);
    void disconnect();
    void updateAvailableControlUnitList();
    void activateMode(WorkerAsync::WorkerMode mode);
    void initializeGUI(WorkerAsync::WorkerMode mode);
    void deactivateMode(WorkerAsync::WorkerMode mode);
    void sendCommand(WorkerAsync::WorkerCommands cmd, QVariant params);
    void setParameter(int address, QString parameter, QVariant value);
    void saveSeries(QAbstractSeries* series, QString fileName);
    void saveMultipleSeries(QVariantList seriesList, QString fileName);
    void rescaleChartRec(WorkerAsync::WorkerMode mode);
    void restorePresets(QString fileName);
    void savePresets(QString fileName);
    QString currentAppPath();
    QString urlToPath(QString url);
    void turnOnAllSelectedChannels(bool turnOn);
    void sendEepromData();
    void writeEeprom();
    // The characterisation of one SSPD channel (see DetectorCharacterisation::requestFromMap
    // for the keys); false, with the reason as an error message, for values out of range.
    bool startCharacterisation(QVariantMap request);
    // Ends it at its next step, the bias at 0 or where it was before.
    void cancelCharacterisation(bool restoreBias);

signals:
    void GUIEnableChanged();
    void AvailableControlUnitsChanged();
    void CurrentAddressChanged();
    void connected();
    void disconnected();
    void dataListChanged();
    void statusTextChanged();
    void producerTypeChanged();
    void startProcess();
    void settingsChanged();
    void progressChanged();
    void chartViewChanged();
    void sweepFinished();
    void eepromDataUpdated();
    void sendErrorMessage(QString title, QString error);
    void sendMessage(QString title, QString message);
    // Relayed from the process: a queued command has run (see WorkerProcess).
    void commandExecuted(int command, QVariant parameter, bool ok);
    // Relayed from the characterisation on the worker thread.
    void characterisationStage(int stage, QString text);
    void characterisationProgress(double percent);
    void characterisationPoint(double bias, double cps, bool latched);
    void characterisationFinished(QVariantMap report);

private slots:
    void updateData(int address, QHash<QString, QVariant> data);
    void eepromDataReady(int address, QVariantMap data);
    void updatePlot();
    void initDataList(QJsonObject initData);
    void controlUnitConnected();
    void controlUnitLost(QString address);

private:
    explicit WorkerAsync(QObject* parent = nullptr);
    void connectCharacterisation();
    MyChartRect* chartRectFor(WorkerMode mode);
    // The rows a sweep start reads: those the settings show, else the mode's own.
    QList<DriverDataItem>* currentSweepRows(WorkerMode mode);
    void plotSweepReading(const QHash<QString, QVariant>& data);
    // Lays the histogram's bins into an empty area series; false (with a status text) when
    // the sweep rows describe no sensible bins.
    bool layOutHistogram(QAreaSeries* area);
    void countIntoHistogram(QAreaSeries* area, double cps);

    bool m_guiEnable = true;
    QStringList m_availableControlUnits;
    QString m_currentAddress;
    DataProviderList* m_dataList = nullptr;
    QString m_statusText;
    double m_progress = 0.0;
    WorkerProducerType m_producerType = ProducerNorvane;
    QThread m_workerThread;
    WorkerProcess* m_process = nullptr;
    Settings* m_settings = nullptr;
    WorkerMode m_currentMode = WorkerModeNoAction;
    QString m_workerVersion;
    bool m_isRaspberryPi = true;
    QVariantMap m_sweepParameters;
    QMap<WorkerMode, MyChartRect*> m_chartRects;
    QMap<int, QList<DriverDataItem>> m_sweepParameterRows;
    EepromDataStorage* m_eepromStorage = nullptr;
    // Bin layout of the histogram, kept from its last layout until the next one.
    double m_histogramFrom = 0.0;
    double m_histogramStep = 0.0;
};
