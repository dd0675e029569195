// A shared library that loads but has no entry "dunzip".
extern "C" int nodunzip_placeholder()
{
    return 0;
}
