#include "VellocsDiagComponent.h"

#include "ResourceStrings.h"

CVellocsDiagComponent::CVellocsDiagComponent(UINT nameId)
    : m_name(Tallis::ImageUpdate::LoadResourceString(nameId))
{
}
