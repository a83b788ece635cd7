// A program that links the record library and names none of it: the build test checks that
// SharedSDPool is linked in all the same: it exists in every program of the system.
int main()
{
    return 0;
}
