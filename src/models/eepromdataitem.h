#pragma once
// One named calibration constant of a module's EEPROM: a single number, or a pair
// (slope and intercept, or sensor voltage and temperature). One row of the EEPROM dialog.
#include <QObject>
#include <QString>
#include <QVariant>
#include <utility>

// Pair values travel as std::pair<double, double> inside QVariant (Qt declares the
// meta-type of std::pair itself); the EEPROM keeps them as two floats.
using EepromPair = std::pair<double, double>;

class EepromDataItem : public QObject
{
    Q_OBJECT
    Q_PROPERTY(QString group READ group WRITE setGroup NOTIFY groupChanged)
    Q_PROPERTY(QString name READ name WRITE setName NOTIFY nameChanged)
    Q_PROPERTY(
        QString displayedName READ displayedName WRITE setDisplayedName NOTIFY displayedNameChanged)
    Q_PROPERTY(EepromDataType type READ type WRITE setType NOTIFY typeChanged)
    Q_PROPERTY(QVariant value READ value WRITE setValue NOTIFY valueChanged)
public:
    enum EepromDataType { Single = 0, Pair = 1 };
    Q_ENUM(EepromDataType)

    EepromDataItem(const QString& group, const QString& name, const QString& displayedName,
                   EepromDataType type, const QVariant& value, QObject* parent = nullptr);

    QString group() const { return m_group; }
    QString name() const { return m_name; }
    QString displayedName() const { return m_displayedName; }
    EepromDataType type() const { return m_type; }
    QVariant value() const { return m_value; }

    void setGroup(const QString& group);
    void setName(const QString& name);
    void setDisplayedName(const QString& displayedName);
    void setType(EepromDataType type);
    void setValue(const QVariant& value);

    // The value as a pair; {0, 0} when it holds none (an item created without a value).
    EepromPair pairValue() const { return toPair(m_value); }

    // A pair from a std::pair, a list of two numbers or a {"first", "second"} map;
    // {0, 0} and *ok false for anything else.
    static EepromPair toPair(const QVariant& value, bool* ok = nullptr);
    // Like toPair, but only accepts what an EEPROM float can hold: both parts finite
    // numbers (or number texts) within float range. Input from files and from the screen
    // goes through this, so that junk never reaches a module.
    static bool toStorablePair(const QVariant& value, EepromPair* out);
    // A number (or a number text) that an EEPROM float can hold; false for anything else.
    static bool toStorableDouble(const QVariant& value, double* out);
    static bool isStorable(double value);

signals:
    void groupChanged();
    void nameChanged();
    void displayedNameChanged();
    void typeChanged();
    void valueChanged();

private:
    QString m_group;
    QString m_name;
    QString m_displayedName;
    EepromDataType m_type;
    QVariant m_value;
};
