#include "mychartrect.h"

#include <QtGlobal>

// Edges compare with qFuzzyCompare: a relative tolerance of 1e-12, under which zero equals
// only exact zero, so moving an edge from 0 to 1e-300 is a change the chart must see.

MyChartRect::MyChartRect(QObject* parent) : QObject(parent) {}

void MyChartRect::setTop(double top)
{
    if (qFuzzyCompare(m_top, top))
        return;
    m_top = top;
    emit topChanged();
}

void MyChartRect::setBottom(double bottom)
{
    if (qFuzzyCompare(m_bottom, bottom))
        return;
    m_bottom = bottom;
    emit bottomChanged();
}

void MyChartRect::setLeft(double left)
{
    if (qFuzzyCompare(m_left, left))
        return;
    m_left = left;
    emit leftChanged();
}

void MyChartRect::setRight(double right)
{
    if (qFuzzyCompare(m_right, right))
        return;
    m_right = right;
    emit rightChanged();
}

void MyChartRect::setLeft(const QDateTime& left)
{
    setLeft(double(left.toMSecsSinceEpoch()));
}

void MyChartRect::setRight(const QDateTime& right)
{
    setRight(double(right.toMSecsSinceEpoch()));
}

#include "moc_mychartrect.cpp"
