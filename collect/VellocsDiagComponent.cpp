#include "VellocsDiagComponent.h"

#include "ResourceStrings.h"

CVellocsDiagComponent::CVellocsDiagComponent(UINT nameId)
    : m_name(Tallis::ImageUpdate::LoadResourceString(nameId))
{
}

void CVellocsDiagComponent::EstimateSize(const wchar_t*, INT32, Tallis::ImageUpdate::TreeSize&) {}

void CVellocsDiagComponent::Prepare(const RunRequest&) {}

void CVellocsDiagComponent::AddFindings(RunRecord&) {}
