// Does nothing: started by the updater's benchmark to measure what loading
// the toolbox's libraries costs a program before its first line runs.
int main()
{
    return 0;
}
