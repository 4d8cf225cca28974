#pragma once
// Device quantities and actions of a module driver: a property reads and writes one typed
// value through a pair of command codes, a command triggers an action with one code.
#include "drivervalue.h"

#include <QByteArray>
#include <QMap>
#include <functional>

class AbstractDriver;

// Callbacks run in the order they were added.
class DriverCallbackList
{
public:
    int add(std::function<void()> callback);
    bool remove(int id);
    void run() const;
    int size() const { return int(m_callbacks.size()); }

private:
    QMap<int, std::function<void()>> m_callbacks;
    int m_lastId = 0;
};

// Untyped property: answers of any length are stored; the caller checks their length.
class DriverProperty_p
{
public:
    static constexpr quint8 NoCode = 0xFF;

    DriverProperty_p(AbstractDriver* driver, quint8 readCode, quint8 writeCode);
    virtual ~DriverProperty_p() = default;
    DriverProperty_p(const DriverProperty_p&) = delete;
    DriverProperty_p& operator=(const DriverProperty_p&) = delete;

    // Exact answer length accepted for readCode; 0 accepts any length.
    virtual int valueSize() const { return 0; }
    virtual DriverCallbackList* answerCallbacks() { return &m_answerCallbacks; }
    virtual DriverCallbackList* writeCallbacks() { return &m_writeCallbacks; }

    AbstractDriver* driver() const { return m_driver; }
    quint8 readCode() const { return m_readCode; }
    quint8 writeCode() const { return m_writeCode; }
    void setReadCode(const quint8& code) { m_readCode = code; }
    void setWriteCode(const quint8& code) { m_writeCode = code; }

    // Sends without waiting.
    void send(quint8 code, QByteArray data);
    // Sends and waits for the answer, up to tries times; ok tells whether this property
    // took an answer to code (for a read code: stored it, in a length it accepts; for a
    // write code: the acknowledgement). Returns the last accepted answer whatever the outcome.
    QByteArray exchange(quint8 code, QByteArray data, bool* ok, int tries);

    QByteArray receivedData() const { return m_received; }
    void setReceivedData(const QByteArray& data) { m_received = data; }
    QByteArray lastSentData() const { return m_lastSent; }

private:
    AbstractDriver* m_driver;
    quint8 m_readCode;
    quint8 m_writeCode;
    QByteArray m_received;
    QByteArray m_lastSent;
    DriverCallbackList m_answerCallbacks;
    DriverCallbackList m_writeCallbacks;
};

// An action with one command code, acknowledged by a packet with the same code.
class DriverCommand : protected DriverProperty_p
{
public:
    DriverCommand(AbstractDriver* driver, quint8 readCode, quint8 writeCode)
        : DriverProperty_p(driver, readCode, writeCode)
    {
    }

    void execute() { send(writeCode(), {}); }
    void executeSync(bool* ok, int tries) { exchange(writeCode(), {}, ok, tries); }

    using DriverProperty_p::answerCallbacks;
    using DriverProperty_p::driver;
    using DriverProperty_p::readCode;
    using DriverProperty_p::writeCallbacks;
    using DriverProperty_p::writeCode;
};

template <typename T> class DriverProperty : protected DriverProperty_p
{
public:
    using Value = T;

    DriverProperty(AbstractDriver* driver, quint8 readCode, quint8 writeCode)
        : DriverProperty_p(driver, readCode, writeCode)
    {
    }

    int valueSize() const override { return DriverValue<T>::size; }

    virtual void request() { send(readCode(), {}); }
    virtual T read(bool* ok, const int& tries)
    {
        return DriverValue<T>::decode(exchange(readCode(), {}, ok, tries));
    }
    virtual void setCached(const T& value) { setReceivedData(DriverValue<T>::encode(value)); }
    virtual T cached() { return DriverValue<T>::decode(receivedData()); }
    virtual void write(const T& value) { send(writeCode(), DriverValue<T>::encode(value)); }
    virtual void writeSync(const T& value, bool* ok, const int& tries)
    {
        exchange(writeCode(), DriverValue<T>::encode(value), ok, tries);
    }
    // The value of the last packet sent through this property (zero after a read request).
    virtual T lastWritten() { return DriverValue<T>::decode(lastSentData()); }

    using DriverProperty_p::answerCallbacks;
    using DriverProperty_p::driver;
    using DriverProperty_p::lastSentData;
    using DriverProperty_p::readCode;
    using DriverProperty_p::receivedData;
    using DriverProperty_p::setReadCode;
    using DriverProperty_p::setWriteCode;
    using DriverProperty_p::writeCallbacks;
    using DriverProperty_p::writeCode;
};

template <typename T> class DriverPropertyReadOnly : protected DriverProperty<T>
{
public:
    using Value = T;
    using DriverProperty<T>::DriverProperty;

    using DriverProperty<T>::answerCallbacks;
    using DriverProperty<T>::cached;
    using DriverProperty<T>::driver;
    using DriverProperty<T>::read;
    using DriverProperty<T>::readCode;
    using DriverProperty<T>::receivedData;
    using DriverProperty<T>::request;
    using DriverProperty<T>::setCached;
    using DriverProperty<T>::writeCallbacks;
    using DriverProperty<T>::writeCode;
};

template <typename T> class DriverPropertyWriteOnly : protected DriverProperty<T>
{
public:
    using Value = T;
    using DriverProperty<T>::DriverProperty;

    using DriverProperty<T>::answerCallbacks;
    using DriverProperty<T>::driver;
    using DriverProperty<T>::lastWritten;
    using DriverProperty<T>::readCode;
    using DriverProperty<T>::write;
    using DriverProperty<T>::writeCallbacks;
    using DriverProperty<T>::writeCode;
    using DriverProperty<T>::writeSync;
};
