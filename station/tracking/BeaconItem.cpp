// The liveness watch of one beacon list entry.
#include "BeaconItem.h"

#include "BeaconListWidgetItem.h"

BeaconItem::BeaconItem(BeaconListWidgetItem *item)
    : m_item(item)
{
}

void BeaconItem::timeout()
{
    if (m_item)
        m_item->setOffline();
}
