// orqJoinDataProviderMgr: TOrqJoinDataProviderMgr, the owner of a statement's providers and
// bridges, and the walk of the root with the residual condition.
#include <algorithm>

#include "engine/components/orqDataBase.h"
#include "engine/components/orqJoinDataProviderUnit.h"
#include "host/Exceptions.h"

namespace ostra {

TOrqJoinDataProviderMgr::TOrqJoinDataProviderMgr() : FJoinExprEvaluator(std::make_unique<TExprEvaluator>()) {
    FJoinExprEvaluator->SetDBStringCompare(FDBStringCompare);
}

TOrqJoinDataProviderMgr::~TOrqJoinDataProviderMgr() { Clear(); }

TOrqNonJoinDataProvider* TOrqJoinDataProviderMgr::GetNonJoinProvider(const std::string& TableName,
                                                                    const std::string& CorrelationName, bool Memory) {
    Assert(FDatabase != nullptr, "Database is not assigned");
    auto provider = std::make_unique<TOrqNonJoinDataProvider>();
    auto bridge = std::make_unique<TOrqDatasetBridge>();
    provider->SetDataBridge(bridge.get());
    bridge->SetDataBase(FDatabase);
    bridge->SetMemory(Memory);
    provider->SetProviderName(TableName);
    provider->SetCorrelationName(CorrelationName);
    FBridges.push_back(std::move(bridge));
    FNonJoinProviders.push_back(std::move(provider));
    return FNonJoinProviders.back().get();
}

TOrqStdJoinDataProvider* TOrqJoinDataProviderMgr::GetStdJoinProvider() {
    Assert(FDatabase != nullptr, "Database is not assigned");
    FJoinProviders.push_back(std::make_unique<TOrqStdJoinDataProvider>());
    return FJoinProviders.back().get();
}

void TOrqJoinDataProviderMgr::SetDBStringCompare(TDBStringCompareFunction Value) {
    FDBStringCompare = Value;
    FJoinExprEvaluator->SetDBStringCompare(Value);
}

bool TOrqJoinDataProviderMgr::OpenProviders() {
    if (FRootProvider == nullptr) return false;
    // A provider over a table that a spare bridge still holds open takes that bridge.
    for (const auto& provider : FNonJoinProviders) {
        TOrqDatasetBridge* fresh = provider->DataBridge();
        if (fresh == nullptr || fresh->Active()) continue;
        const auto spare = std::find_if(FSpareBridges.begin(), FSpareBridges.end(), [&](const auto& B) {
            return B->Active() && B->DataBase() == fresh->DataBase() && B->Memory() == fresh->Memory() &&
                   B->TableName() == fresh->TableName();
        });
        if (spare == FSpareBridges.end()) continue;
        const auto owned = std::find_if(FBridges.begin(), FBridges.end(), [&](const auto& B) { return B.get() == fresh; });
        if (owned == FBridges.end()) continue;
        (*spare)->PrepareForReuse();
        provider->SetDataBridge(spare->get());
        owned->swap(*spare);
        FSpareBridges.erase(spare);
    }
    FSpareBridges.clear();
    FRootProvider->SetParentProvider(nullptr);
    FRootProvider->OpenProvider();
    if (dynamic_cast<TOrqNonJoinDataProvider*>(FRootProvider)) FRootProvider->SetSelectExpr(false, "");
    // The residual condition resolves its fields against the tree as it is now open.
    if (FJoinExpr && FJoinExpr->FirstNode()) {
        FJoinExprEvaluator->Clear();
        FJoinExprEvaluator->SetExcludeRelopNulls(true);
        FJoinExprEvaluator->Prepare(FRootProvider, FJoinExpr->FirstNode());
    }
    return true;
}

void TOrqJoinDataProviderMgr::PrepareJoinExprEvaluator(const TOrqExprNode* Root) {
    if (Root == nullptr) return;
    FJoinExpr = std::make_unique<TOrqExpr>();
    FJoinExpr->CloneFromTree(Root);
    FJoinExprEvaluator->Clear();
    FJoinExprEvaluator->SetDBStringCompare(FDBStringCompare);
    FJoinExprEvaluator->SetExcludeRelopNulls(true);
    if (FRootProvider != nullptr && FRootProvider->IsOpen())
        FJoinExprEvaluator->Prepare(FRootProvider, FJoinExpr->FirstNode());
}

bool TOrqJoinDataProviderMgr::SkipRejected(bool Found) {
    while (Found && FJoinExprEvaluator->IsPrepared()) {
        FJoinExprEvaluator->Reset();
        if (FJoinExprEvaluator->Evaluate()) break;
        Found = FRootProvider->NextProviderRecord();
    }
    return Found;
}

bool TOrqJoinDataProviderMgr::FirstProviderRecord() {
    if (FRootProvider == nullptr) return false;
    return SkipRejected(FRootProvider->FirstProviderRecord());
}

bool TOrqJoinDataProviderMgr::NextProviderRecord() {
    Assert(FRootProvider != nullptr, "Root provider is not assigned");
    return SkipRejected(FRootProvider->NextProviderRecord());
}

TOrqBaseJoinDataProvider* TOrqJoinDataProviderMgr::FindJoinProvider(const std::string& Name) const {
    return FRootProvider ? FRootProvider->FindJoinProvider(Name) : nullptr;
}

TOrqJoinDataProviderMgr::TWalkLocks::TWalkLocks(TOrqJoinDataProviderMgr& Mgr) {
    try {
        for (const auto& bridge : Mgr.FBridges) {
            if (!bridge->InternalActive() || bridge->TableLocked()) continue;
            bridge->ReadLockTable();
            FLocked.push_back(bridge.get());
        }
    } catch (...) {
        Release();
        throw;
    }
}

TOrqJoinDataProviderMgr::TWalkLocks::~TWalkLocks() { Release(); }

void TOrqJoinDataProviderMgr::TWalkLocks::Release() noexcept {
    for (TOrqDatasetBridge* bridge : FLocked) {
        if (!bridge->InternalActive() || !bridge->TableLocked()) continue;
        try {
            bridge->UnlockTable();
        } catch (...) {
        }
    }
    FLocked.clear();
}

void TOrqJoinDataProviderMgr::Clear() {
    FRootProvider = nullptr;
    FJoinExprEvaluator->Clear();
    FJoinExpr.reset();
    // Providers first (join providers refer to the others), then the bridges they read.
    FJoinProviders.clear();
    FNonJoinProviders.clear();
    for (auto& bridge : FBridges)
        if (bridge->Active()) FSpareBridges.push_back(std::move(bridge));
    FBridges.clear();
}

void TOrqJoinDataProviderMgr::ReleaseTables() {
    Clear();
    FSpareBridges.clear();
}

}  // namespace ostra
