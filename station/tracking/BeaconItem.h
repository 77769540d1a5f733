// The liveness watch of one beacon list entry: receives the entry's 60 s single-shot timer and
// turns the entry offline when it fires.
#pragma once

#include <QObject>

class BeaconListWidgetItem;

class BeaconItem : public QObject
{
    Q_OBJECT

public:
    // Created without parent; the entry (not owned) deletes its watch.
    explicit BeaconItem(BeaconListWidgetItem *item);

public slots:
    void timeout();

private:
    BeaconListWidgetItem *m_item;
};
