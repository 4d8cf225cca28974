#pragma once
// What the SSPD driver tests of both models share: the composites, byte helpers, field
// checks through the structures' meta-objects, and the composite signals counted together.
#include <QByteArray>
#include <QList>
#include <QMetaProperty>
#include <QPair>
#include <QSignalSpy>
#include <QTest>
#include <QVariant>

namespace sspdtest {

enum Composite { Data, Params, Eeprom };

template <typename T> QByteArray bytesOf(const T& value)
{
    return QByteArray(reinterpret_cast<const char*>(&value), sizeof value);
}

inline QByteArray replaced(QByteArray bytes, int offset, const QByteArray& field)
{
    return bytes.replace(offset, field.size(), field);
}

template <typename P> QPair<int, int> codesOf(const P* p)
{
    return {p->readCode(), p->writeCode()};
}

template <typename P, typename V> bool writeAcknowledged(P* property, const V& value)
{
    bool ok = false;
    property->writeSync(value, &ok, 1);
    return ok;
}

// Field names in declaration order, each with the value it must read.
using Fields = QList<QPair<QByteArray, QVariant>>;

template <typename T> void compareFields(const T& value, const Fields& expected)
{
    const QMetaObject& meta = T::staticMetaObject;
    QCOMPARE(meta.propertyCount(), expected.size());
    for (int i = 0; i < expected.size(); ++i) {
        const QByteArray& name = expected.at(i).first;
        QCOMPARE(QByteArray(meta.property(i).name()), name);
        QCOMPARE(meta.indexOfProperty(name), i);
        QCOMPARE(meta.property(i).readOnGadget(&value), expected.at(i).second);
    }
}

// The three composite signals of one driver, counted together.
struct Spies
{
    template <typename Driver>
    explicit Spies(Driver* d)
        : data(d, &Driver::dataUpdated), params(d, &Driver::paramsUpdated),
          eeprom(d, &Driver::eepromConstUpdated)
    {
    }
    QSignalSpy& of(int composite)
    {
        return composite == Data ? data : composite == Params ? params : eeprom;
    }
    int total() const { return int(data.size() + params.size() + eeprom.size()); }
    QSignalSpy data;
    QSignalSpy params;
    QSignalSpy eeprom;
};

} // namespace sspdtest
