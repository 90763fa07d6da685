#include "qcl/Logger.h"

#include <gtest/gtest.h>

using qcl::logging::bareFileName;
using qcl::logging::qualifiedFunctionName;

TEST(LogStatement, FunctionNameIsQualifiedWithoutReturnTypeOrParameters)
{
    EXPECT_EQ(qualifiedFunctionName("void dwl::Scanner::run()"), L"dwl::Scanner::run");
    EXPECT_EQ(qualifiedFunctionName("std::vector<std::pair<int, int> > dwl::Tree::find(int) const"),
              L"dwl::Tree::find");
    EXPECT_EQ(qualifiedFunctionName("dwl::Tree::Tree(const std::wstring&)"), L"dwl::Tree::Tree");
    EXPECT_EQ(qualifiedFunctionName("bool dwl::X::operator()(int)"), L"dwl::X::operator()");
    EXPECT_EQ(qualifiedFunctionName("int main()"), L"main");
}

TEST(LogStatement, FileIsTheBareNameWithoutExtension)
{
    EXPECT_EQ(bareFileName("/work/app/Mediator.cpp"), "Mediator");
    EXPECT_EQ(bareFileName("Mediator.cpp"), "Mediator");
    EXPECT_EQ(bareFileName("/x/qcl_scope"), "qcl_scope");
}
